#include "net/upload.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "net/hooks.h"
#include "net/socket.h"
#include "net/url.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

// The boundary as stored: 29 dashes and a fixed id. Delimiter lines are "--"
// plus the boundary parameter, which is this text without its first two dashes.
const std::string kBoundary = std::string(29, '-') + "7d02a419178082c";
const std::string kTitleOpener = kBoundary + "\r\nContent-Disposition: form-data; name=\"Title\"\r\n\r\n";
const std::string kFileOpener = kBoundary + "\r\nContent-Disposition: form-data; name=\"File\"; filename=\"";

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// A file to upload, open, with its size when opened; closes itself. Its
// bytes go from the page cache to the socket (OutgoingBytes).
struct UploadFile {
  int fd = -1;
  size_t size = 0;
  UploadFile() = default;
  UploadFile(const UploadFile&) = delete;
  UploadFile& operator=(const UploadFile&) = delete;
  ~UploadFile() {
    if (fd >= 0) ::close(fd);
  }
  // 0 or the errno of the failure; a directory is no file to send.
  int Open(const std::string& path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EISDIR;
    size = static_cast<size_t>(st.st_size);
    return 0;
  }
};

void Report(const std::shared_ptr<ReportPoster>& poster, const std::string& callback, const std::string& text,
            int32_t number) {
  if (poster) poster->PostReport(callback, text, number);
}

void RunUpload(const NetHooks& net, const MultipartUploadArgs& args, const std::shared_ptr<ReportPoster>& poster) {
  UploadFile file;
  if (int err = file.Open(args.hostPath.empty() ? args.filePath : args.hostPath); err != 0) {
    // The script waits for an outcome: an unreadable file is a failed upload.
    Log("CLIENT: cannot read %s: %s", args.filePath.c_str(), SystemErrorText(err).c_str());
    Report(poster, args.callback, kUploadCrashed, 0);
    return;
  }
  MultipartRequest request = BuildMultipartRequest(args.target, args.userAgent, args.title, args.filePath, file.size);
  // Header, parts, the file's bytes and the closing, sent as one whole.
  OutgoingBytes bytes;
  bytes.AddText(request.head);
  bytes.AddFile(file.fd, file.size);
  bytes.AddText(request.closing);
  try {
    StartSockets();
    CHttpBlockingSocket socket(&net);
    socket.Create(CBlockingSocket::kStream);
    socket.ConnectTo(args.host);
    // Logged, not shown: a box would stop a run that nobody watches.
    Log("%s", request.head.c_str());
    socket.WriteWithProgress(bytes, CBlockingSocket::kDefaultTimeout, args.pieces, {},
                             args.callback, poster);
    std::string line = socket.ReadHttpHeaderLine();
    Report(poster, args.callback, line, line.empty() ? 0 : -1);
    socket.Close();
  } catch (const CBlockingSocketException& e) {
    Log("%s", SocketErrorLine("CLIENT:", e).c_str());
    Report(poster, args.callback, kUploadCrashed, 0);
  }
}

void RunRawUpload(const NetHooks& net, const RawUploadArgs& args, const std::shared_ptr<ReportPoster>& poster) {
  // The script's header, the file's bytes and its trailer, sent as one whole.
  OutgoingBytes body;
  body.AddText(args.header);
  UploadFile file;
  if (args.hostPath) {
    if (int err = file.Open(*args.hostPath); err != 0) {
      Log("CLIENT: cannot read %s: %s", args.hostPath->c_str(), SystemErrorText(err).c_str());
      Report(poster, args.callback, kRawMissingFile, -2);
      return;
    }
    body.AddFile(file.fd, file.size);
  }
  body.AddText(args.trailer);
  const int timeout = net.Timeout();
  CHttpBlockingSocket socket(&net);
  try {
    StartSockets();
    socket.Create(CBlockingSocket::kStream);
    Report(poster, args.callback, "Connecting", -1);
    socket.ConnectTo(args.host, timeout);
    Report(poster, args.callback, "Uploading", -1);
    bool cancelled = false;
    auto cancel = [&] { return cancelled = cancelled || (args.cancelled && args.cancelled()); };
    socket.WriteWithProgress(body, timeout, args.pieces, cancel, args.callback, poster);
    // A cancelled or stopped transfer waits for no answer the server cannot give.
    if (cancelled || net.StopRequested()) throw CBlockingSocketException("Cancelled", 0);
    Report(poster, args.callback, "Getting Response", -1);
    std::string line = socket.ReadHttpHeaderLine(timeout);
    socket.Close();
    if (line.empty())
      Report(poster, args.callback, kRawNoResponse, -2);
    else
      Report(poster, args.callback, line, -3);
  } catch (const CBlockingSocketException& e) {
    Log("%s", SocketErrorLine("CLIENT:", e).c_str());
    Report(poster, args.callback, kRawFailure, -2);
  }
}

}  // namespace

bool HttpUploadRaw(const std::shared_ptr<NetHooks>& net, RawUploadArgs args) {
  std::shared_ptr<ReportPoster> poster = net->Poster();
  try {
    // The thread shares the hooks: it may outlive the run that started it.
    std::thread([net, args = std::move(args), poster] { RunRawUpload(*net, args, poster); }).detach();
  } catch (const std::system_error& e) {
    Log("CLIENT: cannot start the upload thread: %s", e.what());
    return false;
  }
  return true;
}

int32_t WebPut(const NetHooks& net, const std::string& hostPath, const std::string& destination,
               const std::string& siteName) {
  UrlRecord url;
  if (!ParseUrl(destination, url) || url.type != kSchemeHttp || HasLineBreak(siteName) || HasLineBreak(url.path))
    return kWebPostBadArgument;
  UploadFile file;
  if (hostPath.empty() || file.Open(hostPath) != 0) return kWebPostBadArgument;
  const int timeout = net.Timeout();
  std::string head = "PUT " + url.path + " HTTP/1.0\r\n";
  head += "Host: " + url.host + (url.port != 80 ? ":" + std::to_string(url.port) : std::string()) + "\r\n";
  head += "X-Site-Name: " + siteName + "\r\n";
  head += "Content-Length: " + std::to_string(file.size) + "\r\n\r\n";
  OutgoingBytes request;
  request.AddText(std::move(head));
  request.AddFile(file.fd, file.size);
  CHttpBlockingSocket socket(&net);
  try {
    StartSockets();
    socket.Create(CBlockingSocket::kStream);
    socket.ConnectTo(destination, timeout);
    socket.Write(request, 0, request.size(), timeout);
    const std::string line = socket.ReadHttpHeaderLine(timeout);
    socket.Close();
    // "HTTP/1.x 2nn ...": the server took the file.
    const size_t space = line.find(' ');
    if (line.size() >= 5 && EqualsNoCase(line.substr(0, 5), "HTTP/") && space != std::string::npos &&
        space + 1 < line.size() && line[space + 1] == '2')
      return 0;
    Log("CLIENT: web post to %s refused: %s", destination.c_str(), line.c_str());
  } catch (const CBlockingSocketException& e) {
    Log("%s", SocketErrorLine("CLIENT:", e).c_str());
  }
  return kWebPostFailed;
}

MultipartRequest BuildMultipartRequest(const std::string& target, const std::string& userAgent,
                                       const std::string& title, const std::string& filePath, size_t fileSize) {
  std::string titlePart = kTitleOpener + title + "\r\n";
  std::string fileHead = kFileOpener + filePath + "\"\r\nContent-Type: image/jpeg\r\n\r\n";
  MultipartRequest r;
  r.closing = "\r\n" + kBoundary + "--";
  // The version ends the request line: without it servers take the request for HTTP/0.9.
  r.head = "POST " + target + " HTTP/1.0\r\n";
  r.head += "Content-Type:multipart/form-data;boundary=" + kBoundary.substr(2) + "\r\n";
  if (!userAgent.empty()) r.head += "User-Agent: " + userAgent + "\r\n";
  size_t length = titlePart.size() + fileHead.size() + r.closing.size() + fileSize;
  r.head += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  r.head += titlePart;
  r.head += fileHead;
  return r;
}

bool HttpUploadMultipartForm(const std::shared_ptr<NetHooks>& net, const MultipartUploadArgs& args) {
  // A line break would let the caller's text add header lines or parts of its own.
  if (HasLineBreak(args.target) || HasLineBreak(args.userAgent) || HasLineBreak(args.title) ||
      HasLineBreak(args.filePath)) {
    Log("CLIENT: upload refused: a line break in the target, agent, title or file name");
    return false;
  }
  if (++net->uploadCounter != 0) return false;
  std::shared_ptr<ReportPoster> poster = net->Poster();
  try {
    // The thread shares the hooks: it may outlive the run that started it.
    std::thread([net, args, poster] {
      RunUpload(*net, args, poster);
      net->uploadCounter = -1;
    }).detach();
  } catch (const std::system_error& e) {
    Log("CLIENT: cannot start the upload thread: %s", e.what());
    net->uploadCounter = -1;
    return false;
  }
  return true;
}

}  // namespace kv
