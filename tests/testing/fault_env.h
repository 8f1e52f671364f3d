// An env for tests: the system's files, with the Nth call of a kind failing with a chosen
// errno, and variables and folders of the test's own instead of the process's.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "support/env.h"

namespace ferrolyte::testing {

enum class FileCall { kOpen, kWrite, kRead, kSync, kClose, kRename };

class FaultEnv : public Env {
 public:
  // Variables: none is set until the test sets it; home: nothing.
  FaultEnv() = default;

  // The nth call of the kind from now on (1: the next) fails with err, without reaching the
  // system. Only calls on paths holding path_part count (for a rename, its source). One fault
  // per kind; a later call replaces it.
  void FailCall(FileCall call, int nth, int err, const std::string& path_part = "");
  // Calls of the kind made so far, counted or not.
  int Calls(FileCall call) const;

  void SetVariable(const std::string& name, std::optional<std::string> value);
  void SetHome(std::optional<std::string> home) { home_ = std::move(home); }
  // Given folders win over those told from the variables.
  void SetFolder(UserFolder id, std::string path) { folders_[id] = std::move(path); }

  int Open(const std::string& path, int flags, mode_t mode, int& fd) override;
  int Write(int fd, const void* data, size_t size, size_t& written) override;
  int ReadAt(int fd, uint64_t offset, void* data, size_t size, size_t& got) override;
  int Sync(int fd) override;
  int Close(int fd) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Remove(const std::string& path) override;
  int Stat(const std::string& path, struct stat& st) override;
  int FileStat(int fd, struct stat& st) override;
  std::optional<std::string> Variable(const std::string& name) const override;
  std::optional<std::string> Folder(UserFolder id) override;

 protected:
  std::optional<std::string> Home() const override { return home_; }

 private:
  struct Fault {
    int countdown = 0;  // calls still to pass; 0: none armed
    int err = 0;
    std::string path_part;
  };
  // The errno the call gets, 0 to let it through.
  int Injected(FileCall call, const std::string& path);
  std::string PathOf(int fd) const;

  Env& system_ = SystemEnv();
  std::map<FileCall, Fault> faults_;
  std::map<FileCall, int> calls_;
  std::map<int, std::string> open_paths_;
  std::map<std::string, std::string> variables_;
  std::optional<std::string> home_;
  std::map<UserFolder, std::string> folders_;
};

}  // namespace ferrolyte::testing
