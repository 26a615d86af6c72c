// A VISSIM transport without a wire, for tests and fuzzers that hand transactions to the
// conversation themselves: string handles as DDE makes them (one per name, whatever its case),
// and a record of what the conversation asked of it.
#pragma once

#include <strings.h>

#include <string>
#include <utility>
#include <vector>

#include "vissim/lsa_transport.h"

namespace ruvalda::test {

class MemoryTransport : public LsaServerTransport {
  public:
    bool init_ok = true;
    bool register_ok = true;
    std::vector<std::string> names;
    std::string registered;
    std::vector<std::pair<LsaConv, bool>> enables;

    bool initialize(LsaCallback) override { return init_ok; }
    LsaHsz create_string_handle(const char* text) override {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (strcasecmp(names[i].c_str(), text) == 0) return i + 1;
        names.emplace_back(text);
        return names.size();
    }
    bool same_string(LsaHsz a, LsaHsz b) const override { return a == b; }
    bool register_service(LsaHsz service) override {
        registered = names.at(service - 1);
        return register_ok;
    }
    void enable_callbacks(LsaConv conv, bool enable) override { enables.push_back({conv, enable}); }
};

}  // namespace ruvalda::test
