// Arbitrary bytes as a poked VISSIM buffer through the triple unpacker, then a reply packed.
#include <cstddef>
#include <cstdint>

#include "vissim/lsa_puff.h"

using namespace ruvalda;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = false;
    if (!ready) {
        lsa_puff_state.hooks.fehler = [](int, const std::string&, const std::string&) {};
        lsa_puff_state.hooks.laufzeitfehler = [](int, const std::string&, unsigned long) {};
        ready = InitLSAPuffer();
    }
    lsa_puff_state.abort_flag = false;
    if (size > 0) lsa_set_schrittteiler(data[0] % 12);
    lsa_puff_state.data.assign(data, data + size);
    LSAPufferAuspacken(true);
    lsa_puff_state.abort_flag = false;
    VonLSA(1, 1, false);
    d_limp(1);
    LSAPufferPacken();
    return 0;
}
