// OpenSSL's objects owned for the span of a scope, so that every way out of a function
// frees what it made.
#pragma once

#include <memory>

template <typename T, void (*Free)(T*)>
struct COpenSslFree {
    void operator()(T* object) const { Free(object); }
};

template <typename T, void (*Free)(T*)>
using COpenSslOwned = std::unique_ptr<T, COpenSslFree<T, Free>>;
