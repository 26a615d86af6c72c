#include "engine/global_engine.h"

namespace ruvalda {

EngineState engine;
ReaderState reader_state;
ConflictMonitor conflict_monitor;

}  // namespace ruvalda
