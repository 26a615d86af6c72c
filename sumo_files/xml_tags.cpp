#include "sumo_files/xml_tags.h"

#include <algorithm>
#include <cstdlib>

namespace ruvalda::sumo_host {

namespace {

bool is_name_char(char c) {
    return c != '\0' && c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '=' && c != '>' &&
           c != '/' && c != '<' && c != '"' && c != '\'';
}

class TagScanner {
  public:
    TagScanner(std::string_view text, const std::function<void(const XmlTag&)>& visit)
        : text_(text), visit_(visit) {}

    void run() {
        while (at_ < text_.size()) {
            const std::size_t open = text_.find('<', at_);
            count_lines(open == std::string_view::npos ? text_.size() : open);
            if (open == std::string_view::npos) break;
            at_ = open;
            if (starts("<!--"))
                skip_past("-->");
            else if (starts("<![CDATA["))
                skip_past("]]>");
            else if (starts("<?"))
                skip_past("?>");
            else if (starts("<!"))
                skip_past(">");
            else
                tag();
        }
        if (!open_.empty()) fail("the file ends inside <" + open_.back() + ">");
        if (!seen_element_) fail("no element found");
    }

  private:
    [[noreturn]] void fail(const std::string& what) const { throw XmlError{line_, what}; }

    bool starts(std::string_view s) const { return text_.substr(at_, s.size()) == s; }
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void count_lines(std::size_t to) {
        line_ +=
            static_cast<int>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(at_),
                                        text_.begin() + static_cast<std::ptrdiff_t>(to), '\n'));
        at_ = to;
    }

    void skip_past(std::string_view end) {
        const std::size_t found = text_.find(end, at_);
        if (found == std::string_view::npos) fail("unterminated markup");
        count_lines(found + end.size());
    }

    void skip_blanks() {
        while (at_ < text_.size() &&
               (peek() == ' ' || peek() == '\t' || peek() == '\r' || peek() == '\n')) {
            if (peek() == '\n') ++line_;
            ++at_;
        }
    }

    std::string name() {
        const std::size_t start = at_;
        while (is_name_char(peek())) ++at_;
        if (at_ == start) fail("expected a name");
        return std::string(text_.substr(start, at_ - start));
    }

    // An attribute value with its entities decoded.
    std::string value() {
        const char quote = peek();
        if (quote != '"' && quote != '\'') fail("expected a quoted attribute value");
        ++at_;
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("the file ends inside an attribute value");
            const char c = text_[at_++];
            if (c == quote) return out;
            if (c == '\n') ++line_;
            if (c == '<') fail("'<' inside an attribute value");
            if (c != '&') {
                out.push_back(c);
                continue;
            }
            const std::size_t semicolon = text_.find(';', at_);
            if (semicolon == std::string_view::npos) fail("an unterminated entity");
            out += entity(text_.substr(at_, semicolon - at_));
            at_ = semicolon + 1;
        }
    }

    std::string entity(std::string_view name) const {
        if (name == "amp") return "&";
        if (name == "lt") return "<";
        if (name == "gt") return ">";
        if (name == "quot") return "\"";
        if (name == "apos") return "'";
        if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* end = nullptr;
            const long code = std::strtol(digits.c_str(), &end, hex ? 16 : 10);
            if (!digits.empty() && *end == '\0' && code > 0 && code < 0x80)
                return std::string(1, static_cast<char>(code));
            if (!digits.empty() && *end == '\0' && code > 0 && code < 0x110000) return utf8(code);
        }
        fail("an unknown entity &" + std::string(name) + ";");
    }

    static std::string utf8(long code) {
        std::string out;
        const auto c = static_cast<unsigned long>(code);
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (c & 0x3F));
        return out;
    }

    void tag() {
        XmlTag tag;
        tag.line = line_;
        ++at_;
        tag.closing = peek() == '/';
        if (tag.closing) ++at_;
        tag.name = name();
        for (;;) {
            skip_blanks();
            if (peek() == '>') {
                ++at_;
                break;
            }
            if (!tag.closing && starts("/>")) {
                at_ += 2;
                tag.empty = true;
                break;
            }
            if (tag.closing || at_ >= text_.size()) fail("a malformed tag <" + tag.name + ">");
            std::string key = name();
            skip_blanks();
            if (peek() != '=') fail("expected '=' after the attribute " + key);
            ++at_;
            skip_blanks();
            tag.attributes.emplace_back(std::move(key), value());
        }
        nest(tag);
        visit_(tag);
    }

    void nest(const XmlTag& tag) {
        seen_element_ = true;
        if (tag.empty) return;
        if (!tag.closing) {
            open_.push_back(tag.name);
            return;
        }
        if (open_.empty() || open_.back() != tag.name)
            fail("</" + tag.name + "> closes " +
                 (open_.empty() ? "nothing" : "<" + open_.back() + ">"));
        open_.pop_back();
    }

    std::string_view text_;
    const std::function<void(const XmlTag&)>& visit_;
    std::size_t at_ = 0;
    int line_ = 1;
    std::vector<std::string> open_;
    bool seen_element_ = false;
};

}  // namespace

const std::string* XmlTag::attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
        if (k == key) return &v;
    return nullptr;
}

void scan_xml_tags(std::string_view text, const std::function<void(const XmlTag&)>& visit) {
    TagScanner(text, visit).run();
}

}  // namespace ruvalda::sumo_host
