#include "testing/fault_env.h"

namespace ferrolyte::testing {

void FaultEnv::FailCall(FileCall call, int nth, int err, const std::string& path_part) {
  faults_[call] = Fault{nth, err, path_part};
}

int FaultEnv::Calls(FileCall call) const {
  auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second;
}

void FaultEnv::SetVariable(const std::string& name, std::optional<std::string> value) {
  if (value)
    variables_[name] = std::move(*value);
  else
    variables_.erase(name);
}

int FaultEnv::Injected(FileCall call, const std::string& path) {
  ++calls_[call];
  auto it = faults_.find(call);
  if (it == faults_.end() || it->second.countdown <= 0) return 0;
  Fault& fault = it->second;
  if (path.find(fault.path_part) == std::string::npos) return 0;
  return --fault.countdown == 0 ? fault.err : 0;
}

std::string FaultEnv::PathOf(int fd) const {
  auto it = open_paths_.find(fd);
  return it == open_paths_.end() ? std::string() : it->second;
}

int FaultEnv::Open(const std::string& path, int flags, mode_t mode, int& fd) {
  fd = -1;
  if (int err = Injected(FileCall::kOpen, path)) return err;
  const int err = system_.Open(path, flags, mode, fd);
  if (err == 0) open_paths_[fd] = path;
  return err;
}

int FaultEnv::Write(int fd, const void* data, size_t size, size_t& written) {
  written = 0;
  if (int err = Injected(FileCall::kWrite, PathOf(fd))) return err;
  return system_.Write(fd, data, size, written);
}

int FaultEnv::ReadAt(int fd, uint64_t offset, void* data, size_t size, size_t& got) {
  got = 0;
  if (int err = Injected(FileCall::kRead, PathOf(fd))) return err;
  return system_.ReadAt(fd, offset, data, size, got);
}

int FaultEnv::Sync(int fd) {
  if (int err = Injected(FileCall::kSync, PathOf(fd))) return err;
  return system_.Sync(fd);
}

int FaultEnv::Close(int fd) {
  const std::string path = PathOf(fd);
  open_paths_.erase(fd);
  // A failed close still releases the descriptor, as close(2) does.
  const int closed = system_.Close(fd);
  if (int err = Injected(FileCall::kClose, path)) return err;
  return closed;
}

int FaultEnv::Rename(const std::string& from, const std::string& to) {
  if (int err = Injected(FileCall::kRename, from)) return err;
  return system_.Rename(from, to);
}

int FaultEnv::Remove(const std::string& path) {
  return system_.Remove(path);
}

int FaultEnv::Stat(const std::string& path, struct stat& st) {
  return system_.Stat(path, st);
}

int FaultEnv::FileStat(int fd, struct stat& st) {
  return system_.FileStat(fd, st);
}

std::optional<std::string> FaultEnv::Variable(const std::string& name) const {
  auto it = variables_.find(name);
  if (it == variables_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> FaultEnv::Folder(UserFolder id) {
  auto it = folders_.find(id);
  if (it != folders_.end()) return it->second;
  return Env::Folder(id);
}

}  // namespace ferrolyte::testing
