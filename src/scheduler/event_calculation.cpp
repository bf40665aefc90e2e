#include "scheduler/event_calculation.h"

namespace kestrel {

void tmrLoadEventsAndCalculate(Station&) {}

}  // namespace kestrel
