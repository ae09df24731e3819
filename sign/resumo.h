#pragma once
// An OpenSSL digest context owned by a std::unique_ptr: freed on every road out of the function.

#include <openssl/evp.h>

#include <memory>

namespace vnd {

struct LiberaMd
{
    void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); }
};
using Md = std::unique_ptr<EVP_MD_CTX, LiberaMd>;

} // namespace vnd
