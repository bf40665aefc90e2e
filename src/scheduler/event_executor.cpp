#include "scheduler/event_executor.h"

namespace kestrel {

void tmrCheckAndDoEvents(Station&) {}
void tmrClockandEventCheck(Station&) {}

}  // namespace kestrel
