// Arbitrary bytes as a poked VISSIM buffer through the triple unpacker, then a reply packed.
#include <cstddef>
#include <cstdint>

#include "vissim/lsa.h"
#include "vissim/lsa_fehl.h"
#include "vissim/lsa_puff.h"

using namespace ruvalda;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One conversation for the whole run, as VISSIM keeps its controller between steps.
    static LsaState lsa_state;
    static bool ready = false;
    if (!ready) {
        lsa_state.fehl.box = [](const std::string&) {};
        // Run-time warnings would go to lsa99.err in the current folder.
        lsa_state.fehl.lsa_nr = 99;
        ready = InitLSAPuffer(lsa_state);
    }
    lsa_state.fehl.abort_flag = false;
    if (size > 0) lsa_set_schrittteiler(lsa_state, data[0] % 12);
    lsa_state.puff.data.assign(data, data + size);
    LSAPufferAuspacken(lsa_state, true);
    lsa_state.fehl.abort_flag = false;
    VonLSA(lsa_state, 1, 1, false);
    d_limp(lsa_state, 1);
    LSAPufferPacken(lsa_state);
    return 0;
}
