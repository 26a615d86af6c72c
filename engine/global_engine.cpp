#include "engine/global_engine.h"

namespace ruvalda {

EngineState engine;

}  // namespace ruvalda
