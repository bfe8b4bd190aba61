// The file-open dialog as an interface: the shell supplies the real dialog
// over the stage window; headless runs and tests answer from a list. Name
// substitution's file prompt and the browse builtins call it.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct FileDialogRequest {
  std::string title;        // Windows-1252
  std::string filter;       // "All Files|*.*||" form
  std::string initialFile;  // empty for none
};

// The folder browser: only file-system folders can be chosen.
struct FolderDialogRequest {
  std::string startFolder;  // where it opens; empty for the default
  std::string caption;      // the window text; empty for the default
  std::string title;        // the text shown above the folders
  std::string rootFolder;   // nothing above it can be chosen; empty for none
};

class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // The chosen file's stored name; nothing when the user cancels.
  virtual std::optional<std::string> OpenFile(const FileDialogRequest& request) = 0;
  // The chosen folder's stored name; nothing when the user cancels. A host
  // without a folder browser cancels.
  virtual std::optional<std::string> ChooseFolder(const FolderDialogRequest&) { return std::nullopt; }
};

// Answers from a list, one entry per dialog (nothing = cancel); once the list
// runs out every dialog is cancelled, so a headless run never blocks. Every
// request is recorded.
class ScriptedFileDialog : public FileDialog {
 public:
  explicit ScriptedFileDialog(std::deque<std::optional<std::string>> answers = {})
      : answers_(std::move(answers)) {}
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;
  // Answers from the same list.
  std::optional<std::string> ChooseFolder(const FolderDialogRequest& request) override;
  std::vector<FileDialogRequest> requests() const;
  std::vector<FolderDialogRequest> folderRequests() const;

 private:
  std::optional<std::string> NextAnswer();

  mutable std::mutex mutex_;
  std::deque<std::optional<std::string>> answers_;
  std::vector<FileDialogRequest> requests_;
  std::vector<FolderDialogRequest> folderRequests_;
};

}  // namespace kv
