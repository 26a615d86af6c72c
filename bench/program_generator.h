// A generated control program of typical shape: many streams, each with detectors, timers and
// rules of 8 to 20 tokens that use edges, negations and constants. Every rule reads only
// variables assigned before it, detectors and timers, so the program settles and then stays
// quiet while no detector changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ruvalda::bench {

class Lcg {
  public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next(std::uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

  private:
    std::uint32_t state_;
};

inline std::string two_digits(int n) {
    return std::string(1, static_cast<char>('0' + n / 10)) + static_cast<char>('0' + n % 10);
}

// Rule texts; `rules_per_stream` rules for each of `streams` streams (1..99).
inline std::vector<std::string> generate_program(int streams, int rules_per_stream,
                                                 std::uint32_t seed = 7) {
    static const char first[] = "LMPQUW";
    static const char second[] = "ABCDFGHJKLMPQRUVWXYZ";
    Lcg rng(seed);
    std::vector<std::string> rules;
    for (int s = 1; s <= streams; ++s) {
        const std::string nn = two_digits(s);
        std::vector<std::string> defined;
        const std::string timers[] = {"TH" + nn, "TJ" + nn, "TK" + nn};
        rules.push_back("%time " + timers[0] + " 50");
        rules.push_back("%time " + timers[1] + " 30");
        rules.push_back("%time " + timers[2] + " 20");
        // Timers start only on a detector's rise, which never comes while the program is quiet.
        rules.push_back("S" + timers[0] + " .= SD" + nn + "1 . KA" + nn + "N");
        rules.push_back("S" + timers[1] + " .= SD" + nn + "2 + ED" + nn + "3 . KB" + nn);
        rules.push_back("I" + timers[2] + " .= SD" + nn + "3 . (KA" + nn + " <> 2)");
        auto operand = [&]() -> std::string {
            switch (rng.next(7)) {
                case 0:
                    return "D" + nn + std::to_string(1 + rng.next(3));
                case 1:
                    return timers[rng.next(3)] + (rng.next(2) ? "N" : "");
                case 2:
                    return std::to_string(rng.next(5));
                default:
                    if (defined.empty()) return "D" + nn + "1";
                    {
                        const std::string& v =
                            defined[rng.next(static_cast<std::uint32_t>(defined.size()))];
                        switch (rng.next(4)) {
                            case 0:
                                return "S" + v;
                            case 1:
                                return "E" + v;
                            case 2:
                                return v + "N";
                            default:
                                return v;
                        }
                    }
            }
        };
        static const char* const ops[] = {" . ", " + ", " . ", " = ", " <> ", " - ", " . ", " > "};
        for (int r = 0; r < rules_per_stream - 3; ++r) {
            // Unique per stream: two letters, and a third after the first 120 names.
            std::string target(1, first[r % 6]);
            target += second[r / 6 % 20];
            if (r >= 120) target += second[r / 120 % 20];
            target += nn;
            int operands = 4 + static_cast<int>(rng.next(5));  // 4..8 operands: 8..20 tokens
            std::string expr;
            bool open = false;
            for (int i = 0; i < operands; ++i) {
                if (i > 0) expr += ops[rng.next(8)];
                if (!open && i + 1 < operands && rng.next(4) == 0) {
                    expr += "(";
                    open = true;
                }
                expr += operand();
                if (open && rng.next(2) == 0) {
                    expr += ")";
                    open = false;
                }
            }
            if (open) expr += ")";
            const char* assign = rng.next(5) == 0 ? " .= " : " = ";
            rules.push_back(target + assign + expr);
            defined.push_back(target);
        }
    }
    return rules;
}

}  // namespace ruvalda::bench
