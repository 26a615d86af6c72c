// Steps of a loaded program allocate nothing while no trace line is written: the rule code is
// walked in place and the pane's time line is rewritten in its own storage.
#include <atomic>
#include <cstdlib>
#include <new>

#include "tests/support/test_support.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace ruvalda::test {
namespace {

class AllocationTest : public EngineTest {};

TEST_F(AllocationTest, runningAndDetectorChanges_allocateNothingWithoutTraces) {
    ASSERT_EQ(0, load({"%init R05", "%time TG05 30", "%time TY05 20", "%export G05 71",
                       "STG05 .= SD051 . R05", "G05 = TG05", "STY05 .= EG05", "Y05 = TY05",
                       "R05 = G05N . Y05N", "K05 = -(G05 + 2) . D051N + (Y05 <> 1)"}));
    RVInitialize(engine);
    RVRunUntil(engine, 5);  // the pane's time line now exists
    long before = allocations.load();
    for (int i = 0; i < 50; ++i) {
        SetDetectorState(engine, 51, i % 2);
        RVRunUntil(engine, RVGetTime(engine) + 3);
    }
    EXPECT_EQ(0, allocations.load() - before);
    EXPECT_TRUE(recorder.reports.empty());
}

}  // namespace
}  // namespace ruvalda::test
