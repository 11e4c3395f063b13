// The module's entry point: the table of the engine's functions.
#include "core/openssl/engine.h"

namespace core::openssl {
namespace {

void nothing() {}

TlsHost attached_host{nothing, nothing};

void attach_host(const TlsHost& given) { attached_host = given; }

constexpr TlsEngine kEngine{
    kTlsEngineVersion, attach_host, set_credentials, context_ready, error_text, start, attached,
    resumed,           description, kernel_send,     end,           drop,       read,  write,
    sendfile,          pending,
};

}  // namespace

const TlsHost& host() { return attached_host; }

}  // namespace core::openssl

extern "C" const core::TlsEngine* marlod_tls_engine() { return &core::openssl::kEngine; }
