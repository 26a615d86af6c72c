#include "engine/global_engine.h"

namespace ruvalda {

EngineState engine;
ConflictMonitor conflict_monitor;

}  // namespace ruvalda
