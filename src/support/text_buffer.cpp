#include "support/text_buffer.h"

#include <cstdlib>
#include <cstring>

#include "support/failure_stops.h"
#include "support/heap.h"

namespace {
// The line of the capacity check reported by the assertion stop.
constexpr int kAppendCheckLine = 284;
}  // namespace

void TextBuffer::allocate(uint32_t size) {
    char* block = static_cast<char*>(heapAllocate(size));
    if (block == nullptr) outOfMemory(static_cast<int32_t>(size));
    block[0] = '\0';
    data = block;
    capacity = size;
    slack = 0;
}

TextBuffer::TextBuffer(uint32_t size) { allocate(size < 1 ? 1 : size); }

TextBuffer::TextBuffer(const char* text) {
    if (text != nullptr) append(text);
}

TextBuffer::TextBuffer(const char* text, int32_t spare) {
    uint32_t length = text ? static_cast<uint32_t>(std::strlen(text)) : 0;
    allocate(length + static_cast<uint32_t>(spare) + 1);
    slack = spare;
    if (text != nullptr) std::memcpy(data, text, length + 1);
}

TextBuffer::~TextBuffer() { heapFree(data); }

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : data(other.data), capacity(other.capacity), slack(other.slack) {
    other.data = nullptr;
}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
        heapFree(data);
        data = other.data;
        capacity = other.capacity;
        slack = other.slack;
        other.data = nullptr;
    }
    return *this;
}

uint32_t TextBuffer::length() const {
    return data ? static_cast<uint32_t>(std::strlen(data)) : 0;
}

char* TextBuffer::append(const char* text) {
    if (text == nullptr) return data;
    return append(text, static_cast<uint32_t>(std::strlen(text)));
}

char* TextBuffer::append(const char* text, uint32_t added) {
    if (text == nullptr) return data;
    uint32_t used = 0;
    if (data != nullptr) {
        used = static_cast<uint32_t>(strnlen(data, capacity));
        if (used >= capacity) assertionFailed(kMainSourceFile, kAppendCheckLine);
    }
    uint32_t needed = used + added + 1;
    char* old = nullptr;
    if (capacity < needed) {
        old = data;
        int32_t keptSlack = slack;
        allocate(needed + static_cast<uint32_t>(keptSlack));
        slack = keptSlack;
        if (old != nullptr) std::memcpy(data, old, used + 1);
    }
    // The old block goes only after the copy: the text may come from it.
    std::memmove(data + used, text, added);
    data[used + added] = '\0';
    heapFree(old);
    return data;
}

char* TextBuffer::assign(const char* text) {
    if (data != nullptr) data[0] = '\0';
    return append(text);
}
