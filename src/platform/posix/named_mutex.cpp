// Named markers on POSIX, kept as locks on files in a private runtime folder.
//
// Every open marker handle is an open file description holding a shared flock() lock on the
// marker's file. flock() locks belong to the open file description, so two handles in one
// process are two holders, and the system drops a holder's lock when its descriptor is closed or
// its process ends, however it ends: the marker vanishes with its last holder. Whether a marker
// exists is whether an exclusive lock on its file would be refused.
//
// Creating (lock exclusively to learn whether anybody held it, then turn the lock into a shared
// one), testing and closing are not atomic on their own, so all three run under an exclusive
// lock on a gate file of the folder. A holder that closes its handle and finds no other holder
// removes the file; one whose process died leaves it behind, where an unlocked file means no
// marker.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/system_error.h"

namespace platform {
namespace {

bool EnsureFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat status {};
  if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
  return status.st_uid == getuid();  // another user's folder would let them forge our markers
}

// Marker names may hold any byte; the file name keeps letters, digits, '.', '_' and '-' and
// writes every other byte as %XX. Overlong names end in a hash of the whole name.
std::string MarkerFileName(const std::string& name) {
  std::string result = "mutex-";
  for (unsigned char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '-';
    if (plain) {
      result += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      result += escaped;
    }
  }
  if (result.size() > 200) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "~%016llx", static_cast<unsigned long long>(hash));
    result = result.substr(0, 180) + suffix;
  }
  return result;
}

class Descriptor {
public:
  explicit Descriptor(int descriptor) : FDescriptor(descriptor) {}
  ~Descriptor() {
    if (FDescriptor >= 0) close(FDescriptor);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return FDescriptor; }
  int Release() { return std::exchange(FDescriptor, -1); }
  bool IsOpen() const { return FDescriptor >= 0; }

private:
  int FDescriptor;
};

// Holds the folder's gate lock for its lifetime.
class Gate {
public:
  explicit Gate(const std::string& folder)
      : FFile(open((folder + "/gate.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    while (FFile.IsOpen() && flock(FFile.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  bool IsOpen() const { return FFile.IsOpen(); }

private:
  Descriptor FFile;  // closing it releases the lock
};

bool TryExclusive(int descriptor) {
  int result;
  while ((result = flock(descriptor, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return result == 0;
}

}  // namespace

std::string NamedObjectFolder() {
  if (const char* own = std::getenv("VESTREL_RUNTIME_DIR"); own && *own) return own;
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    return std::string(runtime) + "/vestrel";
  }
  return "/tmp/vestrel-" + std::to_string(getuid());
}

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : FDescriptor(std::exchange(other.FDescriptor, -1)),
      FPath(std::move(other.FPath)),
      FAlreadyExisted(std::exchange(other.FAlreadyExisted, false)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    FDescriptor = std::exchange(other.FDescriptor, -1);
    FPath = std::move(other.FPath);
    FAlreadyExisted = std::exchange(other.FAlreadyExisted, false);
  }
  return *this;
}

NamedMutex NamedMutex::Create(const std::string& name, bool /*initialOwner*/,
                              const SecurityAttributes* /*security*/) {
  NamedMutex mutex;
  std::string folder = NamedObjectFolder();
  if (!EnsureFolder(folder)) return mutex;
  Gate gate(folder);
  if (!gate.IsOpen()) return mutex;
  std::string path = folder + "/" + MarkerFileName(name);
  Descriptor file(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!file.IsOpen()) return mutex;
  bool existed;
  if (TryExclusive(file.Get())) {
    existed = false;
  } else if (errno == EWOULDBLOCK) {
    existed = true;
  } else {
    return mutex;
  }
  // Under the gate nobody else holds the exclusive lock, so the shared one is granted at once.
  if (flock(file.Get(), LOCK_SH | LOCK_NB) != 0) return mutex;
  mutex.FDescriptor = file.Release();
  mutex.FPath = path;
  mutex.FAlreadyExisted = existed;
  return mutex;
}

bool NamedMutex::IsOpen() const noexcept { return FDescriptor >= 0; }

bool NamedMutex::Close() noexcept {
  FAlreadyExisted = false;
  if (FDescriptor < 0) return true;
  const std::string path = std::move(FPath);
  FPath.clear();
  const size_t slash = path.find_last_of('/');
  if (path.empty() || slash == std::string::npos) return close(std::exchange(FDescriptor, -1)) == 0;
  // Under the gate nobody opens the file between this close and the test for other holders.
  Gate gate(path.substr(0, slash));
  const bool closed = close(std::exchange(FDescriptor, -1)) == 0;
  if (gate.IsOpen()) {
    Descriptor probe(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (probe.IsOpen() && TryExclusive(probe.Get())) unlink(path.c_str());
  }
  return closed;
}

bool NamedMutexExists(const std::string& name) {
  std::string folder = NamedObjectFolder();
  if (!EnsureFolder(folder)) return false;
  Gate gate(folder);
  Descriptor file(open((folder + "/" + MarkerFileName(name)).c_str(), O_RDONLY | O_CLOEXEC));
  if (!file.IsOpen()) return false;
  if (TryExclusive(file.Get())) return false;  // closing the file drops the probe's lock
  return errno == EWOULDBLOCK;
}

}  // namespace platform
