// The multipart form upload scripts start with kvHTTPUploadMultipartForm: one
// file and a title POSTed over HTTP/1.0 on a thread of its own, one upload at
// a time per run, progress and outcome reported to a script subroutine
// through the run's ReportPoster. Called by the Orlan builtins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class NetHooks;

struct MultipartUploadArgs {
  std::string host;       // a host name, or an http URL whose host (and port) is used
  std::string filePath;
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

}  // namespace kv
