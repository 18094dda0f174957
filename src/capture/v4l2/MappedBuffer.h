#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <utility>

// Owns one shared memory mapping of a driver buffer and unmaps it when destroyed. Move-only.
class MappedBuffer {
public:
    MappedBuffer() = default;
    MappedBuffer(void* data, size_t length) : m_data(data), m_length(length) {}
    ~MappedBuffer() { reset(); }

    MappedBuffer(MappedBuffer&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)),
          m_length(std::exchange(other.m_length, 0)) {}
    MappedBuffer& operator=(MappedBuffer&& other) noexcept {
        if (this != &other) {
            reset();
            m_data = std::exchange(other.m_data, nullptr);
            m_length = std::exchange(other.m_length, 0);
        }
        return *this;
    }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    // Maps length bytes of fd at offset for reading and writing; an invalid buffer on failure.
    static MappedBuffer map(int fd, size_t length, off_t offset) {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return p == MAP_FAILED ? MappedBuffer() : MappedBuffer(p, length);
    }

    const uint8_t* data() const { return static_cast<const uint8_t*>(m_data); }
    size_t length() const { return m_length; }
    bool isValid() const { return m_data != nullptr; }

    void reset() {
        if (m_data) {
            ::munmap(m_data, m_length);
        }
        m_data = nullptr;
        m_length = 0;
    }

private:
    void* m_data = nullptr;
    size_t m_length = 0;
};
