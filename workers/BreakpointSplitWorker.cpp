#include "BreakpointSplitWorker.h"

split::Outcome TSplitThread_1::DoSplit(split::Reporter &reporter) {
  return split::splitAtBreakpoints(request_.source, request_.frames, request_.breakpoints, request_.outputTemplate,
                                   reporter, request_.exact, request_.titles);
}
