#include "metadata/weather.h"

namespace kestrel {

void tmrWeather(Station&) {}

}  // namespace kestrel
