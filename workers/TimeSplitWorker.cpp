#include "TimeSplitWorker.h"

split::Outcome TSplitThread_2::DoSplit(split::Reporter &reporter) {
  return split::splitByTime(request_.source, request_.parameter, request_.totalTimeMs, request_.outputTemplate,
                            reporter, request_.exact);
}
