// Byte streams on connected sockets, clear or TLS: the control connection
// and the data connections read, write and send files through here, and a
// descriptor with TLS attached goes through its TLS session transparently.
// The calls behave like read(2), send(2) and sendfile(2): -1 with errno
// (EAGAIN on a non-blocking socket that must wait, EINTR for a signal).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace core {

enum class TlsRole { Server, Client };

// Which connection a session protects. Only the control connection's
// session is resumed later, so only it is given TLS 1.3 session tickets: a
// ticket a data connection's peer never reads would turn its close into a
// reset that loses the end of an upload.
enum class TlsUse { Control, Data };

// Runs the TLS handshake on a connected socket and attaches the session to
// it (for the control connection `write_fd` may differ from `fd`; both
// then name it). Waits at most `timeout_ms` for the peer (-1: no limit;
// signals are then handled by the caller's read loop). False with `error`.
bool tls_start(int fd, int write_fd, TlsRole role, TlsUse use, int timeout_ms, std::string& error);

// True while a TLS session is attached to `fd`.
bool tls_active(int fd);
// True when the session on `fd` resumed an earlier session of this process.
bool tls_resumed(int fd);
// The protocol and cipher of the session on `fd` ("TLSv1.3 TLS_AES_...").
std::string tls_description(int fd);
// True when the kernel encrypts what is sent on `fd` (sendfile stays
// zero-copy).
bool tls_kernel_send(int fd);

// Ends the session on `fd` with a close_notify (the socket stays open) and
// detaches it. With `wait_for_peer` the peer's close_notify is awaited (up
// to `timeout_ms`). False when the closure could not be completed.
bool tls_end(int fd, bool wait_for_peer, int timeout_ms);
// Detaches without a closure (the connection is being dropped).
void tls_drop(int fd);

// After an end without waiting: consumes the peer's close_notify when it
// is the next thing on `fd`, so that clear text can follow.
void tls_skip_peer_closure(int fd);

// The stream calls. A TLS session read to its close_notify reads as end of
// input; a TLS stream that ends without one reads as an error (EPIPE).
ssize_t stream_read(int fd, void* buffer, std::size_t size);
// As stream_read, but a clear socket is read without waiting (EAGAIN when
// nothing is there) whatever its mode; a TLS stream waits as its
// descriptor's mode says.
ssize_t stream_read_nowait(int fd, void* buffer, std::size_t size);
ssize_t stream_write(int fd, const void* data, std::size_t size);
// Bytes of the file `in_fd` from *offset on to `out_fd`, advancing *offset.
ssize_t stream_sendfile(int out_fd, int in_fd, off_t* offset, std::size_t count);
// True when decrypted bytes wait in the TLS session of `fd`.
bool stream_pending(int fd);

}  // namespace core
