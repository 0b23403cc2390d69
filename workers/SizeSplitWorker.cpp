#include "SizeSplitWorker.h"

split::Outcome TSplitThread_3::DoSplit(split::Reporter &reporter) {
  return split::splitBySize(request_.source, request_.parameter, request_.outputTemplate, reporter, request_.exact);
}
