// JSON for ruvalda-sumo: a small reader for the bridge configuration and its mapping files, and
// a writer that prints as Python's json.dump(value, indent=2) does, so that ruvalda-sumo's
// summary file reads exactly like the bridge's.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvalda::sumo_host {

// Where and why the text is not JSON; lines and columns count from 1.
struct JsonError {
    int line = 0;
    int column = 0;
    std::string what;
};

struct Json {
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    // Out of line: a member list of Json is complete only once Json is.
    Json();
    Json(const Json&);
    Json(Json&&) noexcept;
    Json& operator=(const Json&);
    Json& operator=(Json&&) noexcept;
    ~Json();

    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    bool integral = false;  // a number written without fraction or exponent
    std::string text;       // a string's value (UTF-8)
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;  // in the order written
    int line = 0;                                       // where the value starts

    bool is(Kind k) const { return kind == k; }
    bool is_integer() const { return kind == Kind::Number && integral; }
    // The value of a member; the last of that key, as Python keeps it. Null when absent.
    const Json* find(std::string_view key) const;

    static Json null_value() { return Json{}; }
    static Json integer(long long value);
    static Json real(double value);
    static Json string(std::string value);
    static Json object();
    Json& add(std::string key, Json value);  // an object's next member; returns the object
};

// The value of the whole text; throws JsonError.
Json parse_json(std::string_view text);

// Python's repr of a float: the shortest text that reads back as the same double.
std::string python_float(double value);

// The text json.dump(value, indent=2) writes (ASCII only, without the final newline).
std::string dump_json(const Json& value);

}  // namespace ruvalda::sumo_host
