// The stream range: a stream is the two-digit number of a variable (G01 ... G99). Every table
// indexed by stream number has STREAM_COUNT entries; entry 0 is no stream.
#pragma once

namespace ruvalda {

constexpr int FIRST_STREAM = 1;
constexpr int LAST_STREAM = 99;
constexpr int STREAM_COUNT = LAST_STREAM + 1;

constexpr bool is_stream(int number) {
    return number >= FIRST_STREAM && number <= LAST_STREAM;
}

}  // namespace ruvalda
