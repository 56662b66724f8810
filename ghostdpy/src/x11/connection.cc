#include "connection.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console.h"
#include "reply_builder.h"
#include "request.h"
#include "setup_reply.h"
#include "socket_io.h"
#include "wire.h"

namespace x11 {
namespace {

// Requests are read through one buffer per connection, so a pipelining
// client costs one recv() per buffer-full rather than two per request;
// requests larger than the buffer are read into an allocation of their own.
// That allocation is left uninitialised: every byte of it is received before
// the request is used, and its pages only become resident as data arrives, so
// a client that announces 16 MiB and sends a few bytes costs a few bytes.
constexpr std::size_t kInputCapacity = 16 * 1024;

// Traces and replies of requests that arrived together are written together;
// everything pending is flushed before the handler blocks on the client, and
// whenever it grows past this size.
constexpr std::size_t kOutputFlushSize = 64 * 1024;

// A request or reply with more bytes than this is traced on its own, in
// pieces, under the console's lock (its text is about three times its size:
// 50 MB for the largest request), and a reply that large is sent straight
// from the builder's buffer rather than gathered.
constexpr std::size_t kLargeSize = 16 * 1024;

constexpr std::size_t kSetupFixedSize = 12;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kExtendedHeaderSize = 8;  // header + BIG-REQUESTS length

constexpr const char* kEarlyEnd = "failed to fill whole buffer";

struct Connection {
  int fd = -1;
  bool lsb_first = true;
  std::uint16_t sequence = 1;
  std::unique_ptr<std::uint8_t[]> in{new std::uint8_t[kInputCapacity]};
  std::size_t in_begin = 0;  // first unread byte
  std::size_t in_end = 0;    // one past the last received byte
  std::string trace;                  // pending standard output
  std::vector<std::uint8_t> replies;  // pending bytes to the client
};

// How a connection ends.
struct End {
  enum class Kind { disconnected, refused, fatal } kind;
  std::string message;
};

End fatal(std::string message) { return End{End::Kind::fatal, std::move(message)}; }
End io_failure(const char* context, const std::string& description) {
  return fatal(std::string(context) + ": " + description);
}

std::size_t buffered(const Connection& c) { return c.in_end - c.in_begin; }
const std::uint8_t* unread(const Connection& c) { return c.in.get() + c.in_begin; }

// Writes the pending trace, so that a line written on its own comes after it.
void flush_trace(Connection& c) {
  if (c.trace.empty()) return;
  console_out(c.trace);
  c.trace.clear();
}

// Writes the pending trace, then sends the pending replies, so that each
// reply's trace line is out before the reply. Returns 0 or the send errno.
int flush_output(Connection& c) {
  flush_trace(c);
  if (c.replies.empty()) return 0;
  const int err = send_all(c.fd, c.replies.data(), c.replies.size());
  c.replies.clear();
  return err;
}

enum class Fill { ok, closed, recv_failed, send_failed };
struct FillResult {
  Fill status;
  int err = 0;
};

// Receives until `need` (at most kInputCapacity) bytes are buffered.
FillResult fill(Connection& c, std::size_t need) {
  while (buffered(c) < need) {
    if (c.in_begin + need > kInputCapacity) {
      std::memmove(c.in.get(), unread(c), buffered(c));
      c.in_end -= c.in_begin;
      c.in_begin = 0;
    }
    if (const int err = flush_output(c)) return {Fill::send_failed, err};
    const ssize_t n = recv_some(c.fd, c.in.get() + c.in_end, kInputCapacity - c.in_end);
    if (n == 0) return {Fill::closed};
    if (n < 0) return {Fill::recv_failed, errno};
    c.in_end += static_cast<std::size_t>(n);
  }
  return {Fill::ok};
}

// The message for a failed fill of request bytes (anything but the header).
End fill_failure(const char* context, FillResult r) {
  switch (r.status) {
    case Fill::closed:
      return io_failure(context, kEarlyEnd);
    case Fill::send_failed:
      return io_failure("write response error", describe_errno(r.err));
    default:
      return io_failure(context, describe_errno(r.err));
  }
}

// Reads exactly n bytes into dst, whatever n is: buffered bytes first, the
// rest straight from the socket.
FillResult read_exact(Connection& c, std::uint8_t* dst, std::size_t n) {
  const std::size_t from_buffer = std::min(n, buffered(c));
  std::memcpy(dst, unread(c), from_buffer);
  c.in_begin += from_buffer;
  std::size_t got = from_buffer;
  if (got < n) {
    if (const int err = flush_output(c)) return {Fill::send_failed, err};
  }
  while (got < n) {
    const ssize_t r = recv_some(c.fd, dst + got, n - got);
    if (r == 0) return {Fill::closed};
    if (r < 0) return {Fill::recv_failed, errno};
    got += static_cast<std::size_t>(r);
  }
  return {Fill::ok};
}

std::optional<End> handshake(Connection& c) {
  if (FillResult r = fill(c, kSetupFixedSize); r.status != Fill::ok)
    return fill_failure("failed to read init request", r);
  const std::uint8_t* setup = unread(c);
  switch (setup[0]) {
    case 0x6C:  // 'l'
      c.lsb_first = true;
      break;
    case 0x42:  // 'B'
      c.lsb_first = false;
      break;
    default:
      return fatal("invalid byte encoding value `" + std::to_string(setup[0]) + "`");
  }
  // Authorisation is offered but never checked: every client is accepted.
  const std::size_t name_length = read_u16(setup + 6, c.lsb_first);
  const std::size_t data_length = read_u16(setup + 8, c.lsb_first);
  std::size_t skip = name_length + pad4(name_length) + data_length + pad4(data_length);
  c.in_begin += kSetupFixedSize;
  while (skip > 0) {
    if (buffered(c) == 0) {
      if (FillResult r = fill(c, 1); r.status != Fill::ok) return fill_failure("failed to read init request", r);
    }
    const std::size_t n = std::min(skip, buffered(c));
    c.in_begin += n;
    skip -= n;
  }
  const SetupReply& reply = setup_reply(c.lsb_first);
  if (const int err = send_all(c.fd, reply.data(), reply.size()))
    return io_failure("write init response", describe_errno(err));
  return std::nullopt;
}

// Reads the next request header. On success `data_size` is the number of
// data bytes that follow it in the stream and the header is consumed.
std::optional<End> read_header(Connection& c, RequestHeader& header, std::size_t& data_size) {
  if (FillResult r = fill(c, kHeaderSize); r.status != Fill::ok) {
    if (r.status == Fill::send_failed) return io_failure("write response error", describe_errno(r.err));
    if (r.status == Fill::recv_failed) return io_failure("header read error", describe_errno(r.err));
    if (buffered(c) == 0) return End{End::Kind::disconnected, {}};
    std::uint8_t got[kHeaderSize] = {};
    std::memcpy(got, unread(c), buffered(c));
    std::string m = "unknown message, read count=" + std::to_string(buffered(c)) + ", [";
    for (std::size_t i = 0; i < kHeaderSize; ++i) m += (i ? ", " : "") + std::to_string(got[i]);
    return fatal(m + "]");
  }
  const std::uint8_t* h = unread(c);
  header = RequestHeader{h[0], h[1], read_u16(h + 2, c.lsb_first)};
  if (header.length != 0) {
    data_size = std::size_t{4} * header.length - kHeaderSize;
    c.in_begin += kHeaderSize;
    return std::nullopt;
  }
  // BIG-REQUESTS: the length follows as a 32-bit word that counts itself.
  if (FillResult r = fill(c, kExtendedHeaderSize); r.status != Fill::ok) return fill_failure("read error", r);
  const std::uint32_t extended = read_u32(unread(c) + kHeaderSize, c.lsb_first);
  if (extended < 2 || extended > kMaxExtendedLength)
    return fatal("invalid extended request length " + std::to_string(extended) + " (allowed 2 to " +
                 std::to_string(kMaxExtendedLength) + ")");
  data_size = std::size_t{4} * extended - kExtendedHeaderSize;
  c.in_begin += kExtendedHeaderSize;
  return std::nullopt;
}

std::size_t data_size_of(const Request& request) { return request.data ? request.data->size() : 0; }

// How each trace line begins: "Request<n> = " or "Response<n> = ".
void append_trace_head(std::string& out, std::string_view word, std::uint16_t sequence) {
  out.append(word);
  append_decimal(out, sequence);
  out.append(" = ");
}

// Renderers write a large line through this, piece by piece.
TextSink into(ConsoleMessage& line) {
  return [&line](std::string_view piece) { line.write(piece); };
}

void trace_request(Connection& c, const Request& request) {
  if (data_size_of(request) <= kLargeSize) {
    append_trace_head(c.trace, "\nRequest", c.sequence);
    append_request_text(c.trace, request);
    c.trace.push_back('\n');
    return;
  }
  flush_trace(c);
  ConsoleMessage line(ConsoleStream::out);
  std::string head;
  append_trace_head(head, "\nRequest", c.sequence);
  line.write(head);
  write_request_text(request, into(line));
  line.write("\n");
}

// Traces a reply and sends it, or gathers both with the pending output.
// Returns 0 or the send errno.
int trace_and_send_reply(Connection& c, const std::vector<std::uint8_t>& reply) {
  if (reply.size() <= kLargeSize) {
    append_trace_head(c.trace, "Response", c.sequence);
    append_bytes_text(c.trace, reply);
    c.trace.push_back('\n');
    c.replies.insert(c.replies.end(), reply.begin(), reply.end());
    return 0;
  }
  flush_trace(c);
  {
    ConsoleMessage line(ConsoleStream::out);
    std::string head;
    append_trace_head(head, "Response", c.sequence);
    line.write(head);
    write_bytes_text(reply, into(line));
    line.write("\n");
  }
  if (const int err = flush_output(c)) return err;
  return send_all(c.fd, reply.data(), reply.size());
}

// "ERROR: " and the builder's error text, written while the request is still
// at hand, after everything answered before it has gone out.
std::optional<End> refuse(Connection& c, const ResponseMessage& response, const Request& request) {
  if (const int err = flush_output(c)) return io_failure("write response error", describe_errno(err));
  ConsoleMessage line(ConsoleStream::err);
  line.write("ERROR: ");
  line.write(response.error_lead);
  write_request_text(request, into(line));
  line.write("\n");
  return End{End::Kind::refused, {}};
}

// Taken while the reply to a request read into an allocation of its own is
// built. A reply that echoes such a request is as large as it; holding the
// two at once is the only moment a connection needs twice the request's
// size, and one connection at a time does: with N large requests in flight
// the server holds at most N + 1 of them, never 2N. The builder does no
// I/O, so nobody waits here for a client.
std::mutex large_reply_lock;

// The builder's answer. The data of a request in `large` is released as soon
// as the answer no longer needs it: an error text still renders it.
ResponseMessage respond(Connection& c, const Request& request, std::unique_ptr<std::uint8_t[]>& large) {
  if (!large) return create_response_message(c.sequence, request, c.lsb_first, &c.trace);
  std::lock_guard<std::mutex> guard(large_reply_lock);
  ResponseMessage response = create_response_message(c.sequence, request, c.lsb_first, &c.trace);
  if (response.kind != ResponseMessage::Kind::error) large.reset();
  return response;
}

// Answers one request whose data lies in the input buffer or in `large`;
// returns an End when the builder refuses it or the reply cannot be sent.
std::optional<End> answer(Connection& c, const Request& request, std::unique_ptr<std::uint8_t[]>& large) {
  trace_request(c, request);
  const ResponseMessage response = respond(c, request, large);
  // From here on request.data is only valid for an error.
  switch (response.kind) {
    case ResponseMessage::Kind::error:
      return refuse(c, response, request);
    case ResponseMessage::Kind::no_reply:
      break;
    case ResponseMessage::Kind::reply:
      if (const int err = trace_and_send_reply(c, response.bytes))
        return io_failure("write response error", describe_errno(err));
      break;
  }
  ++c.sequence;  // wraps from 65535 to 0
  return std::nullopt;
}

std::optional<End> serve_requests(Connection& c) {
  std::unique_ptr<std::uint8_t[]> large;  // data of a request that does not fit the buffer
  for (;;) {
    RequestHeader header{};
    std::size_t data_size = 0;
    if (auto end = read_header(c, header, data_size)) return end;

    Request request{header, std::nullopt};
    std::size_t consumed = 0;
    if (data_size == 0) {
      // Header alone: no data.
    } else if (data_size <= kInputCapacity) {
      if (FillResult r = fill(c, data_size); r.status != Fill::ok) return fill_failure("read error", r);
      request.data = std::span<const std::uint8_t>(unread(c), data_size);
      consumed = data_size;
    } else {
      large = std::make_unique_for_overwrite<std::uint8_t[]>(data_size);
      if (FillResult r = read_exact(c, large.get(), data_size); r.status != Fill::ok)
        return fill_failure("read error", r);
      request.data = std::span<const std::uint8_t>(large.get(), data_size);
    }
    if (auto end = answer(c, request, large)) return end;
    c.in_begin += consumed;
    if (c.trace.size() >= kOutputFlushSize || c.replies.size() >= kOutputFlushSize) {
      if (const int err = flush_output(c)) return io_failure("write response error", describe_errno(err));
    }
    large.reset();
  }
}

}  // namespace

void serve_connection(UniqueFd socket) {
  Connection c;
  c.fd = socket.get();
  std::optional<End> end = handshake(c);
  if (!end) end = serve_requests(c);

  // Whatever was answered before the end still goes out, in order.
  const int err = flush_output(c);
  if (err && end->kind != End::Kind::fatal) end = io_failure("write response error", describe_errno(err));

  switch (end->kind) {
    case End::Kind::disconnected:
      console_err("Client disconnected\n");
      break;
    case End::Kind::refused:
      break;  // "ERROR: ..." was written while the request was still at hand
    case End::Kind::fatal:
      report_failure("connection", end->message);
      break;
  }
  socket.reset();
}

}  // namespace x11
