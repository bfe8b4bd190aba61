#include "platform/file_dialog.h"

namespace kv {

std::optional<std::string> ScriptedFileDialog::NextAnswer() {
  if (answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

std::optional<std::string> ScriptedFileDialog::OpenFile(const FileDialogRequest& request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(request);
  return NextAnswer();
}

std::optional<std::string> ScriptedFileDialog::ChooseFolder(const FolderDialogRequest& request) {
  std::lock_guard lock(mutex_);
  folderRequests_.push_back(request);
  return NextAnswer();
}

std::vector<FileDialogRequest> ScriptedFileDialog::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<FolderDialogRequest> ScriptedFileDialog::folderRequests() const {
  std::lock_guard lock(mutex_);
  return folderRequests_;
}

}  // namespace kv
