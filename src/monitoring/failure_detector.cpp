#include "monitoring/failure_detector.h"

namespace kestrel {

void tmrSourceCheck(Station&) {}

}  // namespace kestrel
