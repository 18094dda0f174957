#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// One fuzz target: every target program defines FuzzOne, which takes one input, runs it
// through the code under test and returns 0. A broken property aborts the program, so that
// libFuzzer keeps the input and the corpus replay fails.
int FuzzOne(const uint8_t* data, size_t size);

// Stops the run when a property the code promises does not hold.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

// Takes bytes off the front of a fuzz input; once it is used up every read gives zeros.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint8_t byte() { return m_size > 0 ? (--m_size, *m_data++) : 0; }
    uint16_t word() { return uint16_t(byte() | byte() << 8); }
    // Up to n bytes (fewer when the input ends first).
    const uint8_t* take(size_t n, size_t* got) {
        *got = n < m_size ? n : m_size;
        const uint8_t* at = m_data;
        m_data += *got;
        m_size -= *got;
        return at;
    }
    const uint8_t* rest(size_t* got) { return take(m_size, got); }
    bool empty() const { return m_size == 0; }

private:
    const uint8_t* m_data;
    size_t m_size;
};
