#include "driver/record/FileDescription.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "common/ScopedFd.h"
#include "common/SystemError.h"
#include "driver/record/InstallKey.h"
#include "driver/record/InstallTree.h"
#include "driver/record/OpenDirectories.h"
#include "driver/record/PackagedDigests.h"
#include "package/RecordDigest.h"

namespace {

const size_t kReadBlock = 256 * 1024;
// Below this many files a thread costs more to start than it saves.
const size_t kThreadedFrom = 32;
const size_t kWorkers = 2;
// Files waiting open at most: far below any limit on descriptors.
const size_t kQueueLimit = 64;
// Files handed over, and taken by a worker, at a time: one lock and one
// wake-up for several small files rather than for each.
const size_t kBatch = 8;
const size_t kTake = 4;

std::string NotFileOrLink(const std::string& shown) {
  return shown + ": neither a regular file nor a symbolic link";
}

// The target text of the link leaf in the directory open at dir: true, or
// false with *error naming shown.
bool ReadLinkAt(int dir, const std::string& leaf, const std::string& shown, std::string* target,
                std::string* error) {
  target->assign(256, '\0');
  for (;;) {
    ssize_t got = readlinkat(dir, leaf.c_str(), &(*target)[0], target->size());
    if (got < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    // A target as long as the buffer may have been cut: ask again with room
    // to spare.
    if (static_cast<size_t>(got) < target->size()) {
      target->resize(static_cast<size_t>(got));
      return true;
    }
    target->resize(target->size() * 2);
  }
}

void DescribeLink(const std::string& target, ManifestEntry* entry) {
  entry->isLink = true;
  entry->mode = 0;
  entry->size = target.size();
  entry->sha256 = RecordDigest::Of(target.data(), target.size());
}

// Reads the file open at fd to its end, through block (kReadBlock bytes),
// into entry's mode, size and digest: true, or false with *error naming
// shown when it is not a regular file or cannot be read.
bool DigestOpenFile(int fd, const std::string& shown, char* block, ManifestEntry* entry,
                    std::string* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = NotFileOrLink(shown);
    return false;
  }
  RecordDigest digest;
  uint64_t bytes = 0;
  if (!digest.UpdateFrom(fd, block, kReadBlock, &bytes)) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  entry->isLink = false;
  entry->mode = st.st_mode & 07777;
  entry->size = static_cast<uint64_t>(st.st_size);
  entry->sha256 = digest.FinalHex();
  return true;
}

// Opens the file leaf in the directory open at dir for reading, never
// through a link, and without waiting should a FIFO have taken the name.
int OpenFileAt(int dir, const std::string& leaf) {
  return openat(dir, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// Digests the files a walk hands over already open, so that no path is
// walked twice: the first few on the caller's thread, the rest on two
// threads of their own while the walk goes on. Owns the descriptors handed
// over; the entries must stay where they are until Finish has returned.
// Not copyable.
class DigestQueue {
 public:
  DigestQueue() : m_nAdded(0), m_bClosing(false), m_bFailed(false) {}
  ~DigestQueue() {
    std::string ignored;
    Finish(&ignored);
  }
  DigestQueue(const DigestQueue&) = delete;
  DigestQueue& operator=(const DigestQueue&) = delete;

  // Digests the regular file open at fd into *entry and closes fd.
  void Add(int fd, const std::string& shown, ManifestEntry* entry);
  // Whether a file has failed: the walk need not go on.
  bool Failed();
  // Waits for every file handed over: true, or false with the first
  // failure's message in *error.
  bool Finish(std::string* error);

 private:
  struct Job {
    int fd;
    std::string shown;
    ManifestEntry* entry;
  };

  static void* Run(void* queue);
  void StartWorkers();
  // Hands the files gathered in m_batch to the workers.
  void HandOver();
  void Work();
  void Digest(const Job& job, char* block);

  std::mutex m_mutex;
  std::condition_variable m_ready;  // a job waits, or the queue closes
  std::condition_variable m_room;   // a job has been taken
  std::deque<Job> m_jobs;
  std::vector<pthread_t> m_workers;
  std::vector<char> m_block;
  // Added, not yet handed over; the adding thread's own.
  std::vector<Job> m_batch;
  size_t m_nAdded;
  bool m_bClosing;
  // Read without the lock by the walk, after each file.
  std::atomic<bool> m_bFailed;
  std::string m_sError;
};

void DigestQueue::Add(int fd, const std::string& shown, ManifestEntry* entry) {
  if (++m_nAdded == kThreadedFrom)
    StartWorkers();
  if (m_workers.empty()) {
    if (m_block.empty())
      m_block.resize(kReadBlock);
    Digest({fd, shown, entry}, m_block.data());
    return;
  }
  m_batch.push_back({fd, shown, entry});
  if (m_batch.size() >= kBatch)
    HandOver();
}

void DigestQueue::HandOver() {
  if (m_batch.empty())
    return;
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_room.wait(lock, [this] { return m_jobs.size() + m_batch.size() <= kQueueLimit; });
    for (Job& job : m_batch)
      m_jobs.push_back(std::move(job));
  }
  m_batch.clear();
  m_ready.notify_all();
}

bool DigestQueue::Failed() {
  return m_bFailed.load(std::memory_order_relaxed);
}

bool DigestQueue::Finish(std::string* error) {
  HandOver();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bClosing = true;
  }
  m_ready.notify_all();
  for (pthread_t worker : m_workers)
    pthread_join(worker, nullptr);
  m_workers.clear();
  if (m_bFailed) {
    *error = m_sError;
    return false;
  }
  return true;
}

void* DigestQueue::Run(void* queue) {
  static_cast<DigestQueue*>(queue)->Work();
  return nullptr;
}

void DigestQueue::StartWorkers() {
  // The workers take no signals: setup's handlers run on the thread that
  // set them up, as they would without workers.
  sigset_t all;
  sigset_t saved;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &saved);
  for (size_t i = 0; i < kWorkers; ++i) {
    pthread_t worker;
    // Without a worker the files are digested where they are handed over.
    if (pthread_create(&worker, nullptr, &DigestQueue::Run, this) == 0)
      m_workers.push_back(worker);
  }
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void DigestQueue::Work() {
  std::vector<char> block(kReadBlock);
  std::vector<Job> taken;
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_ready.wait(lock, [this] { return !m_jobs.empty() || m_bClosing; });
    if (m_jobs.empty())
      return;
    while (!m_jobs.empty() && taken.size() < kTake) {
      taken.push_back(std::move(m_jobs.front()));
      m_jobs.pop_front();
    }
    lock.unlock();
    m_room.notify_one();
    for (const Job& job : taken)
      Digest(job, block.data());
    taken.clear();
    lock.lock();
  }
}

void DigestQueue::Digest(const Job& job, char* block) {
  ScopedFd own(job.fd);
  if (Failed())
    return;
  std::string why;
  if (DigestOpenFile(job.fd, job.shown, block, job.entry, &why))
    return;
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bFailed) {
    m_bFailed = true;
    m_sError = why;
  }
}

// What a walk of the tree has found so far; the queue goes first, so that
// its threads are done before the entries they fill are.
struct Found {
  explicit Found(const PackagedDigests* digests) : packaged(digests) {}
  const PackagedDigests* packaged;
  std::vector<std::unique_ptr<ManifestEntry>> entries;
  DigestQueue queue;
};

// The package's digest for the file leaf in the directory open at dir, whose
// path in the tree is relative, into *entry: whether the package's list
// could stand for the file.
bool TakePackagedDigest(const PackagedDigests& packaged, int dir, const std::string& leaf,
                        const std::string& relative, ManifestEntry* entry) {
  struct stat st;
  if (fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  const std::string* sha256 = packaged.DigestFor(relative, st);
  if (sha256 == nullptr)
    return false;
  entry->isLink = false;
  entry->mode = st.st_mode & 07777;
  entry->size = static_cast<uint64_t>(st.st_size);
  entry->sha256 = *sha256;
  return true;
}

// Adds what stands as leaf in the directory open at dir, whose path in tree
// is relative, or everything below it for a directory, to *found. type is
// its kind as the directory listed it (DT_UNKNOWN when not known).
bool CollectAt(const InstallTree& tree, int dir, const std::string& leaf, unsigned char type,
               const std::string& relative, Found* found, std::string* error) {
  const std::string shown = tree.PathOf(relative);
  if (type == DT_UNKNOWN) {
    struct stat st;
    if (fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    type = IFTODT(st.st_mode);
  }
  if (type == DT_LNK) {
    std::unique_ptr<ManifestEntry> entry(new ManifestEntry);
    std::string target;
    if (!ReadLinkAt(dir, leaf, shown, &target, error))
      return false;
    entry->path = relative;
    DescribeLink(target, entry.get());
    found->entries.push_back(std::move(entry));
    return true;
  }
  if (type == DT_REG) {
    if (found->packaged != nullptr) {
      std::unique_ptr<ManifestEntry> entry(new ManifestEntry);
      entry->path = relative;
      if (TakePackagedDigest(*found->packaged, dir, leaf, relative, entry.get())) {
        found->entries.push_back(std::move(entry));
        return true;
      }
    }
    int fd = OpenFileAt(dir, leaf);
    if (fd < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    found->entries.emplace_back(new ManifestEntry);
    found->entries.back()->path = relative;
    found->queue.Add(fd, shown, found->entries.back().get());
    return true;
  }
  if (type != DT_DIR) {
    *error = NotFileOrLink(shown);
    return false;
  }
  // O_NOFOLLOW: a link that has taken the directory's name is not entered.
  int own = openat(dir, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* handle = own < 0 ? nullptr : fdopendir(own);
  if (handle == nullptr) {
    *error = ErrnoMessage(shown, errno);
    if (own >= 0)
      close(own);
    return false;
  }
  std::vector<std::pair<std::string, unsigned char>> names;
  int err = 0;
  for (;;) {
    errno = 0;
    struct dirent* child = readdir(handle);
    if (child == nullptr) {
      err = errno;
      break;
    }
    std::string name = child->d_name;
    if (name != "." && name != "..")
      names.emplace_back(name, child->d_type);
  }
  bool ok = err == 0;
  if (!ok)
    *error = ErrnoMessage(shown, err);
  std::sort(names.begin(), names.end());
  for (size_t i = 0; ok && i < names.size() && !found->queue.Failed(); ++i) {
    ok = CollectAt(tree, dirfd(handle), names[i].first, names[i].second,
                   relative + "/" + names[i].first, found, error);
  }
  closedir(handle);
  return ok;
}

// Describes what stands as leaf in the directory open at parent, whose
// lstat is st; shown is its path for messages.
bool DescribeIn(int parent, const std::string& leaf, const struct stat& st,
                const std::string& shown, ManifestEntry* entry, std::string* error) {
  if (S_ISLNK(st.st_mode)) {
    std::string target;
    if (!ReadLinkAt(parent, leaf, shown, &target, error))
      return false;
    DescribeLink(target, entry);
    return true;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = NotFileOrLink(shown);
    return false;
  }
  ScopedFd fd(OpenFileAt(parent, leaf));
  if (fd.Get() < 0) {
    *error = ErrnoMessage(shown, errno);
    return false;
  }
  std::vector<char> block(kReadBlock);
  return DigestOpenFile(fd.Get(), shown, block.data(), entry, error);
}

// Opens the directory that holds relative in *parent, its last name in
// *leaf, and stats that name without following a link; false with *error
// (naming *shown, its path for messages) otherwise.
bool StatInTree(const InstallTree& tree, const std::string& relative, std::string* shown,
                ScopedFd* parent, std::string* leaf, struct stat* st, std::string* error) {
  *shown = tree.PathOf(relative);
  if (!tree.OpenParent(relative, parent, leaf) ||
      fstatat(parent->Get(), leaf->c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
    *error = ErrnoMessage(*shown, errno);
    return false;
  }
  return true;
}

bool IsMissing(int err) {
  return err == ENOENT || err == ENOTDIR || err == ELOOP;
}

// Inspects recorded entries against a tree in their order, in phases: each
// entry's lstat through its directory held open (Look), then a link's
// target or a keyed file's digest at once (CompareLink, CompareKeyed), a
// plain file's digest on the queue's threads (Queue), and the queue's
// digests compared once all are done (Finish). Not copyable.
class EntryInspection {
 public:
  EntryInspection(const InstallTree& tree, const std::vector<ManifestEntry>& entries,
                  bool keyRequired)
      : m_tree(tree),
        m_entries(entries),
        m_bKeyRequired(keyRequired),
        m_standings(entries.size()),
        m_now(entries.size()),
        m_directories(tree) {}
  ~EntryInspection() { std::fill(m_sKey.begin(), m_sKey.end(), '\0'); }
  EntryInspection(const EntryInspection&) = delete;
  EntryInspection& operator=(const EntryInspection&) = delete;

  // Inspects entry i; its digest may still be on the queue. False with
  // *error when it cannot be read.
  bool Inspect(size_t i, std::string* error) {
    const ManifestEntry& entry = m_entries[i];
    FileStanding& standing = m_standings[i];
    const std::string shown = m_tree.PathOf(entry.path);
    if (!InstallTree::IsPlainRelative(entry.path)) {
      *error = ErrnoMessage(shown, EINVAL);
      return false;
    }
    struct stat st;
    int parent = -1;
    std::string leaf;
    if (!Look(entry, shown, &parent, &leaf, &st, &standing, error))
      return false;
    if (standing.missing)
      return true;
    standing.sameKind = entry.isLink ? S_ISLNK(st.st_mode) : S_ISREG(st.st_mode);
    standing.mode = entry.isLink ? 0 : st.st_mode & 07777;
    // Kind and size decide before the content is read.
    if (!standing.sameKind || static_cast<uint64_t>(st.st_size) != entry.size)
      return true;
    if (entry.isLink)
      return CompareLink(entry, parent, leaf, shown, &standing, error);
    if (entry.keyed)
      return CompareKeyed(entry, parent, leaf, shown, &standing, error);
    return Queue(i, parent, leaf, shown, error);
  }

  bool Failed() { return m_queue.Failed(); }

  // Waits for the queue's digests and leaves every entry's standing in
  // *standings: true, or false with *error when a file could not be read.
  bool Finish(std::vector<FileStanding>* standings, std::string* error) {
    if (!m_queue.Finish(error))
      return false;
    for (size_t i = 0; i < m_entries.size(); ++i) {
      const ManifestEntry* now = m_now[i].get();
      if (now == nullptr)
        continue;
      // The file's mode as it was read is the one that counts.
      m_standings[i].mode = now->mode;
      m_standings[i].sameContent =
          now->size == m_entries[i].size && now->sha256 == m_entries[i].sha256;
    }
    *standings = std::move(m_standings);
    return true;
  }

 private:
  // The lstat of entry's path in *st, its directory open at *parent and its
  // last name in *leaf; standing->missing when nothing has the name.
  bool Look(const ManifestEntry& entry, const std::string& shown, int* parent, std::string* leaf,
            struct stat* st, FileStanding* standing, std::string* error) {
    size_t slash = entry.path.rfind('/');
    std::string dirPath = slash == std::string::npos ? std::string() : entry.path.substr(0, slash);
    *leaf = entry.path.substr(slash == std::string::npos ? 0 : slash + 1);
    // Entries come sorted by path: each directory is opened once.
    if (!m_bHaveParent || dirPath != m_sParentPath) {
      m_nParentError = m_directories.Reach(dirPath, &m_nParent) ? 0 : errno;
      m_sParentPath = dirPath;
      m_bHaveParent = true;
    }
    *parent = m_nParent;
    int err = m_nParentError;
    if (err == 0 && fstatat(m_nParent, leaf->c_str(), st, AT_SYMLINK_NOFOLLOW) != 0)
      err = errno;
    if (err == 0)
      return true;
    if (!IsMissing(err)) {
      *error = ErrnoMessage(shown, err);
      return false;
    }
    standing->missing = true;
    return true;
  }

  bool CompareLink(const ManifestEntry& entry, int parent, const std::string& leaf,
                   const std::string& shown, FileStanding* standing, std::string* error) {
    std::string target;
    if (!ReadLinkAt(parent, leaf, shown, &target, error))
      return false;
    standing->sameContent = target.size() == entry.size &&
                            RecordDigest::Of(target.data(), target.size()) == entry.sha256;
    return true;
  }

  // A file that holds passwords has no plain digest in the record: it is
  // compared by the installation's key. Without the key it counts as
  // changed, since nothing shows it is not, unless the key is required.
  bool CompareKeyed(const ManifestEntry& entry, int parent, const std::string& leaf,
                    const std::string& shown, FileStanding* standing, std::string* error) {
    if (!m_bKeyRead) {
      m_bKeyRead = true;
      m_bHaveKey = InstallKey::Read(m_tree, &m_sKey, error);
      if (!m_bHaveKey && (m_bKeyRequired || errno != ENOENT)) {
        if (m_bKeyRequired)
          *error += "; the files that hold passwords cannot be compared";
        return false;
      }
    }
    if (!m_bHaveKey)
      return true;
    ScopedFd fd(OpenFileAt(parent, leaf));
    if (fd.Get() < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    std::string digest;
    if (!InstallKey::DigestFile(m_sKey, fd.Get(), shown, &digest, error))
      return false;
    standing->sameContent = digest == entry.sha256;
    return true;
  }

  bool Queue(size_t i, int parent, const std::string& leaf, const std::string& shown,
             std::string* error) {
    int fd = OpenFileAt(parent, leaf);
    if (fd < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    m_now[i].reset(new ManifestEntry);
    m_now[i]->path = m_entries[i].path;
    m_queue.Add(fd, shown, m_now[i].get());
    return true;
  }

  const InstallTree& m_tree;
  const std::vector<ManifestEntry>& m_entries;
  bool m_bKeyRequired;
  std::vector<FileStanding> m_standings;
  // Filled by the queue, which is gone before they are.
  std::vector<std::unique_ptr<ManifestEntry>> m_now;
  DigestQueue m_queue;
  OpenDirectories m_directories;
  int m_nParent = -1;
  std::string m_sParentPath;
  bool m_bHaveParent = false;
  int m_nParentError = 0;
  std::string m_sKey;
  bool m_bKeyRead = false;
  bool m_bHaveKey = false;
};

}  // namespace

FileState FileStanding::State(const ManifestEntry& entry) const {
  if (missing)
    return FileState::kMissing;
  return sameKind && sameContent && mode == entry.mode ? FileState::kUnchanged
                                                       : FileState::kChanged;
}

bool ManifestEntry::operator==(const ManifestEntry& other) const {
  return path == other.path && isLink == other.isLink && mode == other.mode && size == other.size &&
         sha256 == other.sha256 && keyed == other.keyed;
}

bool DescribeFile(const std::string& dir, const std::string& relative, ManifestEntry* entry,
                  std::string* error) {
  InstallTree tree;
  return tree.Open(dir, error) && DescribeFileAt(tree, relative, entry, error);
}

bool DescribeFileAt(const InstallTree& tree, const std::string& relative, ManifestEntry* entry,
                    std::string* error) {
  std::string shown;
  ScopedFd parent;
  std::string leaf;
  struct stat st;
  if (!StatInTree(tree, relative, &shown, &parent, &leaf, &st, error))
    return false;
  entry->path = relative;
  return DescribeIn(parent.Get(), leaf, st, shown, entry, error);
}

bool DescribeFiles(const std::string& dir, const std::vector<std::string>& relatives,
                   std::vector<ManifestEntry>* entries, std::string* error,
                   const PackagedDigests* packaged) {
  InstallTree tree;
  if (!tree.Open(dir, error))
    return false;
  Found found(packaged);
  for (const std::string& relative : relatives) {
    if (!InstallTree::IsPlainRelative(relative)) {
      *error = "\"" + relative + "\" is not a path inside " + dir;
      return false;
    }
    ScopedFd parent;
    std::string leaf;
    if (!tree.OpenParent(relative, &parent, &leaf)) {
      *error = ErrnoMessage(tree.PathOf(relative), errno);
      return false;
    }
    if (!CollectAt(tree, parent.Get(), leaf, DT_UNKNOWN, relative, &found, error))
      return false;
    if (found.queue.Failed())
      break;
  }
  if (!found.queue.Finish(error))
    return false;
  std::vector<ManifestEntry> described;
  described.reserve(found.entries.size());
  for (std::unique_ptr<ManifestEntry>& entry : found.entries)
    described.push_back(std::move(*entry));
  std::sort(described.begin(), described.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
  described.erase(
      std::unique(described.begin(), described.end(),
                  [](const ManifestEntry& a, const ManifestEntry& b) { return a.path == b.path; }),
      described.end());
  *entries = std::move(described);
  return true;
}

bool CheckFileAt(const InstallTree& tree, const ManifestEntry& entry, FileState* state,
                 std::string* error) {
  std::vector<FileState> states;
  if (!CheckFilesAt(tree, std::vector<ManifestEntry>(1, entry), &states, error))
    return false;
  *state = states[0];
  return true;
}

bool CheckFilesAt(const InstallTree& tree, const std::vector<ManifestEntry>& entries,
                  std::vector<FileState>* states, std::string* error) {
  std::vector<FileStanding> standings;
  if (!InspectFilesAt(tree, entries, false, &standings, error))
    return false;
  std::vector<FileState> found;
  found.reserve(entries.size());
  for (size_t i = 0; i < entries.size(); ++i)
    found.push_back(standings[i].State(entries[i]));
  *states = std::move(found);
  return true;
}

bool InspectFilesAt(const InstallTree& tree, const std::vector<ManifestEntry>& entries,
                    bool keyRequired, std::vector<FileStanding>* standings, std::string* error) {
  EntryInspection inspection(tree, entries, keyRequired);
  for (size_t i = 0; i < entries.size() && !inspection.Failed(); ++i) {
    if (!inspection.Inspect(i, error))
      return false;
  }
  return inspection.Finish(standings, error);
}

bool NeedsKeyedDigest(const ManifestEntry& entry) {
  return !entry.isLink && (entry.mode & S_IROTH) == 0;
}

bool KeySecretFiles(const InstallTree& tree, const std::string& key,
                    std::vector<ManifestEntry>* entries, std::string* error) {
  std::vector<ManifestEntry> keyed = *entries;
  for (ManifestEntry& entry : keyed) {
    if (entry.keyed || !NeedsKeyedDigest(entry))
      continue;
    const std::string shown = tree.PathOf(entry.path);
    ScopedFd parent;
    std::string leaf;
    if (!tree.OpenParent(entry.path, &parent, &leaf)) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    ScopedFd fd(openat(parent.Get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
      *error = ErrnoMessage(shown, errno);
      return false;
    }
    if (!InstallKey::DigestFile(key, fd.Get(), shown, &entry.sha256, error))
      return false;
    entry.keyed = true;
  }
  *entries = keyed;
  return true;
}
