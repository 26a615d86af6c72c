#include "sumo_files/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace ruvalda::sumo_host {

namespace {

// Deeper nesting than any configuration needs; the limit keeps a hostile file off the stack.
constexpr int NESTING_LIMIT = 200;
// Python's repr switches to an exponent outside 1e-4 <= |x| < 1e16.
constexpr int REPR_LOWEST_FIXED_EXPONENT = -4;
constexpr int REPR_FIRST_EXPONENT = 16;
constexpr int INDENT = 2;

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    Json document() {
        Json value = parse_value(0);
        skip_blanks();
        if (at_ < text_.size()) fail("extra data after the value");
        return value;
    }

  private:
    [[noreturn]] void fail(const std::string& what) const {
        throw JsonError{line_, static_cast<int>(at_ - line_start_) + 1, what};
    }

    void skip_blanks() {
        for (; at_ < text_.size(); ++at_) {
            const char c = text_[at_];
            if (c == '\n') {
                ++line_;
                line_start_ = at_ + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
        }
    }

    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void expect(char c, const char* what) {
        skip_blanks();
        if (peek() != c) fail(std::string("expected ") + what);
        ++at_;
    }

    Json parse_value(int depth) {
        if (depth > NESTING_LIMIT) fail("nested too deeply");
        skip_blanks();
        Json value;
        value.line = line_;
        const char c = peek();
        if (c == '{') {
            parse_object(value, depth);
        } else if (c == '[') {
            parse_array(value, depth);
        } else if (c == '"') {
            value.kind = Json::Kind::String;
            value.text = parse_string();
        } else if ((c == '-' && text_.substr(at_, 2) != "-I") || (c >= '0' && c <= '9')) {
            parse_number(value);
        } else if (!parse_literal(value)) {
            fail(at_ < text_.size() ? "expected a value" : "the text ends where a value belongs");
        }
        return value;
    }

    bool parse_literal(Json& value) {
        auto word = [&](std::string_view w) {
            if (text_.substr(at_, w.size()) != w) return false;
            at_ += w.size();
            return true;
        };
        const bool is_true = word("true");
        if (is_true || word("false")) {
            value.kind = Json::Kind::Boolean;
            value.boolean = is_true;
            return true;
        }
        // Python's json reads (and its dump writes) these three beside JSON's numbers.
        for (const auto& [w, number] : {std::pair<std::string_view, double>{"NaN", NAN},
                                        {"Infinity", INFINITY},
                                        {"-Infinity", -INFINITY}}) {
            if (!word(w)) continue;
            value.kind = Json::Kind::Number;
            value.number = number;
            return true;
        }
        return word("null");
    }

    void parse_object(Json& value, int depth) {
        value.kind = Json::Kind::Object;
        ++at_;
        skip_blanks();
        if (peek() == '}') {
            ++at_;
            return;
        }
        for (;;) {
            skip_blanks();
            if (peek() != '"') fail("expected a member name in double quotes");
            std::string key = parse_string();
            expect(':', "':' after a member name");
            value.members.emplace_back(std::move(key), parse_value(depth + 1));
            skip_blanks();
            if (peek() == '}') {
                ++at_;
                return;
            }
            expect(',', "',' or '}' after an object member");
        }
    }

    void parse_array(Json& value, int depth) {
        value.kind = Json::Kind::Array;
        ++at_;
        skip_blanks();
        if (peek() == ']') {
            ++at_;
            return;
        }
        for (;;) {
            value.items.push_back(parse_value(depth + 1));
            skip_blanks();
            if (peek() == ']') {
                ++at_;
                return;
            }
            expect(',', "',' or ']' after an array element");
        }
    }

    void parse_number(Json& value) {
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (peek() >= '0' && peek() <= '9') ++at_;
            return at_ > from;
        };
        if (peek() == '-') ++at_;
        if (peek() == '0')
            ++at_;
        else if (!digits())
            fail("expected digits of a number");
        value.integral = true;
        if (peek() == '.') {
            ++at_;
            if (!digits()) fail("expected digits after the decimal point");
            value.integral = false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') ++at_;
            if (!digits()) fail("expected digits of the exponent");
            value.integral = false;
        }
        value.kind = Json::Kind::Number;
        const std::string written(text_.substr(start, at_ - start));
        value.number = std::strtod(written.c_str(), nullptr);
    }

    unsigned hex4() {
        if (at_ + 4 > text_.size()) fail("expected four hex digits after \\u");
        unsigned code = 0;
        const auto [end, error] =
            std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
        if (error != std::errc() || end != text_.data() + at_ + 4)
            fail("expected four hex digits after \\u");
        at_ += 4;
        return code;
    }

    static void append_utf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }

    unsigned escaped_code() {
        unsigned code = hex4();
        // A surrogate pair is one character.
        if (code >= 0xD800 && code < 0xDC00 && text_.substr(at_, 2) == "\\u") {
            const std::size_t back = at_;
            at_ += 2;
            const unsigned low = hex4();
            if (low >= 0xDC00 && low < 0xE000)
                return 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            at_ = back;
        }
        return code;
    }

    std::string parse_string() {
        ++at_;  // the opening quote
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("the text ends inside a string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) {
                --at_;
                fail("a control character (a line end?) inside a string");
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            const char e = peek();
            ++at_;
            switch (e) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'u':
                    append_utf8(out, escaped_code());
                    break;
                default:
                    --at_;
                    fail("an unknown escape in a string");
            }
        }
    }

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
    std::size_t line_start_ = 0;
};

// One UTF-8 character at text[*at], its code; a byte that starts none is taken as itself.
unsigned next_code(const std::string& text, std::size_t* at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned first = byte(*at);
    int more = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
    if (more && *at + more >= text.size()) more = 0;
    unsigned code = more == 3   ? first & 0x07
                    : more == 2 ? first & 0x0F
                    : more      ? first & 0x1F
                                : first;
    for (int i = 1; i <= more; ++i) code = (code << 6) | (byte(*at + i) & 0x3F);
    *at += static_cast<std::size_t>(more) + 1;
    return code;
}

void append_escape(std::string& out, unsigned code) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
    out += buffer;
}

// A string as json.dump writes it with ensure_ascii.
void dump_string(std::string& out, const std::string& text) {
    out.push_back('"');
    for (std::size_t at = 0; at < text.size();) {
        const unsigned code = next_code(text, &at);
        switch (code) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (code >= 0x10000) {
                    append_escape(out, 0xD800 + ((code - 0x10000) >> 10));
                    append_escape(out, 0xDC00 + ((code - 0x10000) & 0x3FF));
                } else if (code < 0x20 || code > 0x7E) {
                    append_escape(out, code);
                } else {
                    out.push_back(static_cast<char>(code));
                }
        }
    }
    out.push_back('"');
}

void dump_value(std::string& out, const Json& value, int level) {
    const std::string inner(static_cast<std::size_t>((level + 1) * INDENT), ' ');
    const std::string outer(static_cast<std::size_t>(level * INDENT), ' ');
    switch (value.kind) {
        case Json::Kind::Null:
            out += "null";
            return;
        case Json::Kind::Boolean:
            out += value.boolean ? "true" : "false";
            return;
        case Json::Kind::Number:
            out += value.integral ? std::to_string(std::llround(value.number))
                                  : python_float(value.number);
            return;
        case Json::Kind::String:
            dump_string(out, value.text);
            return;
        case Json::Kind::Array:
            if (value.items.empty()) {
                out += "[]";
                return;
            }
            out += "[\n";
            for (std::size_t i = 0; i < value.items.size(); ++i) {
                out += (i ? ",\n" : "") + inner;
                dump_value(out, value.items[i], level + 1);
            }
            out += "\n" + outer + "]";
            return;
        case Json::Kind::Object:
            if (value.members.empty()) {
                out += "{}";
                return;
            }
            out += "{\n";
            for (std::size_t i = 0; i < value.members.size(); ++i) {
                out += (i ? ",\n" : "") + inner;
                dump_string(out, value.members[i].first);
                out += ": ";
                dump_value(out, value.members[i].second, level + 1);
            }
            out += "\n" + outer + "}";
            return;
    }
}

}  // namespace

Json::Json() = default;
Json::Json(const Json&) = default;
Json::Json(Json&&) noexcept = default;
Json& Json::operator=(const Json&) = default;
Json& Json::operator=(Json&&) noexcept = default;
Json::~Json() = default;

const Json* Json::find(std::string_view key) const {
    for (auto m = members.rbegin(); m != members.rend(); ++m)
        if (m->first == key) return &m->second;
    return nullptr;
}

Json Json::integer(long long value) {
    Json j;
    j.kind = Kind::Number;
    j.integral = true;
    j.number = static_cast<double>(value);
    return j;
}

Json Json::real(double value) {
    Json j;
    j.kind = Kind::Number;
    j.number = value;
    return j;
}

Json Json::string(std::string value) {
    Json j;
    j.kind = Kind::String;
    j.text = std::move(value);
    return j;
}

Json Json::object() {
    Json j;
    j.kind = Kind::Object;
    return j;
}

Json& Json::add(std::string key, Json value) {
    members.emplace_back(std::move(key), std::move(value));
    return *this;
}

Json parse_json(std::string_view text) {
    return Parser(text).document();
}

std::string python_float(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    // The shortest digits first, then placed as Python places them.
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string text(buffer, result.ptr);
    const std::size_t e = text.find('e');
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (text[i] != '.') digits.push_back(text[i]);
    const int exponent = std::atoi(text.c_str() + e + 1);
    std::string out = negative ? "-" : "";
    if (exponent < REPR_LOWEST_FIXED_EXPONENT || exponent >= REPR_FIRST_EXPONENT) {
        out.push_back(digits[0]);
        if (digits.size() > 1) out.append(".").append(digits, 1);
        char tail[16];
        std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return out.append(tail);
    }
    if (exponent < 0)
        return out.append("0.").append(static_cast<std::size_t>(-exponent - 1), '0').append(digits);
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= whole)
        return out.append(digits).append(whole - digits.size(), '0').append(".0");
    return out.append(digits, 0, whole).append(".").append(digits, whole);
}

std::string dump_json(const Json& value) {
    std::string out;
    dump_value(out, value, 0);
    return out;
}

}  // namespace ruvalda::sumo_host
