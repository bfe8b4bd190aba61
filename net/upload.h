// The multipart form upload scripts start with kvHTTPUploadMultipartForm: one
// file and a title POSTed over HTTP/1.0 on a thread of its own, one upload at
// a time per run, progress and outcome reported to a script subroutine
// through the run's ReportPoster. Called by the Orlan builtins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kv {

class NetHooks;

struct MultipartUploadArgs {
  std::string host;       // a host name, or an http URL whose host (and port) is used
  std::string filePath;   // as the request names it
  std::string hostPath;   // where the file is read; filePath when empty
  int32_t pieces = 0;     // how many pieces progress is reported in; <= 0 sends at once
  std::string callback;   // the script subroutine receiving (text, number) reports
  std::string target;     // the request target after "POST "
  std::string userAgent;  // no User-Agent line when empty
  std::string title;
  std::string unused8;    // taken and kept by the builtin, never used
  std::string unused9;
};

// The request around the file's bytes: header block and part heads before
// them, the closing delimiter after.
struct MultipartRequest {
  std::string head;
  std::string closing;
};
MultipartRequest BuildMultipartRequest(const std::string& target, const std::string& userAgent,
                                       const std::string& title, const std::string& filePath, size_t fileSize);

// True when this call started the upload; false while another one of the
// same run (`net`: its counter, poster and stop) runs, or when a text that
// goes into the request holds CR or LF.
bool HttpUploadMultipartForm(const std::shared_ptr<NetHooks>& net, const MultipartUploadArgs& args);

// The final report's text when the upload could not run or failed on the way.
inline constexpr const char* kUploadCrashed = "Thread Crashed";

// kvHTTPUpload: the script writes the whole request itself; the player sends
// the header text, the file's bytes and the trailer text to the host and
// reports each step to the callback as (text, number).
struct RawUploadArgs {
  std::string header;
  // The file to send, none without a value; a value naming no readable file
  // (or empty) ends the upload with the missing-file report.
  std::optional<std::string> hostPath;
  std::string trailer;
  std::string host;      // a host name, or an http URL whose host (and port) is used
  int32_t pieces = 0;
  std::string callback;
  // Asked between pieces: true cancels the transfer (the script's cancel variable).
  std::function<bool()> cancelled;
};

// The reports of a raw upload, in order: ("Connecting", -1), ("Uploading",
// -1), piece numbers ("", n) while sending, ("Getting Response", -1), then
// (the response line, -3), or one failure report ending it: a missing file,
// no response, or a failed transfer (a cancel or the run's stop included).
inline constexpr const char* kRawMissingFile = "HTTPUpload - Missing File";
inline constexpr const char* kRawNoResponse = "No HTTP Server Response";
inline constexpr const char* kRawFailure = "HTTP Transmission Failure";

// Starts the upload on a thread of its own; false when no thread could start.
bool HttpUploadRaw(const std::shared_ptr<NetHooks>& net, RawUploadArgs args);

// kvWebPost: publishes one local file with an HTTP PUT to `destination` (an
// http:// address), the site name in the header X-Site-Name. Answers 0 when
// the server took it (a 2xx status), kWebPostBadArgument for a destination
// that is not http://, a missing file or a line break in the site name, and
// kWebPostFailed when the transfer failed or the server refused.
inline constexpr int32_t kWebPostBadArgument = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG
inline constexpr int32_t kWebPostFailed = static_cast<int32_t>(0x80004005u);       // E_FAIL
int32_t WebPut(const NetHooks& net, const std::string& hostPath, const std::string& destination,
               const std::string& siteName);

}  // namespace kv
