// Platform layer, for src/platform and support/encoding.cpp; program code uses support/encoding.h.
//
// Code-page conversion between multibyte text and UTF-16, in the shape of the system calls the
// tool was first written against. Code pages: 936 (GBK), 65001 (UTF-8), and 0, the system's
// "ANSI" code page, which is 936 here. Backed by ICU's own windows-936 table.
//
// Undecodable input becomes U+FFFD; characters the target lacks become its default character
// ("?" for 936). Neither is an error.
//
// Safe from any thread: each thread keeps its own converters.
#pragma once

namespace mf::platform {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_GBK = 936;
inline constexpr unsigned CP_UTF8 = 65001;

// Decodes `length` bytes of `input` (-1: up to and including its terminating zero) into UTF-16.
// With `capacity` 0 returns the number of units needed; otherwise the number written, or 0 when
// they do not fit, the code page is unknown or the arguments are invalid. `flags` must be 0.
int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* input, int length,
                        char16_t* output, int capacity);

// Encodes `length` UTF-16 units of `input` (-1: up to and including its terminating zero unit).
// Same counting rules as above. `defaultChar` and `usedDefault` must be null, as the tool passes.
int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* input, int length,
                        char* output, int capacity, const char* defaultChar, bool* usedDefault);

}  // namespace mf::platform
