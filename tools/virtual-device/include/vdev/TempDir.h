// A private scratch directory for one test (header only; POSIX, and Windows for the tests that
// the Windows build runs).
//
//   vdev::TempDir dir;
//   ASSERT_FALSE(dir.path().empty());
//   ASSERT_TRUE(dir.MakeDirectories("data/cts"));
//   std::ofstream(dir.Join("data/cts/table.bin")) << ...;
//
// The directory is made with mkdtemp under $TMPDIR (or /tmp) and removed on destruction with
// everything in it: files, symbolic links (removed, never followed) and subdirectories at any
// depth. On Windows it is made under the user's temporary folder with std::filesystem.
#pragma once

#if defined(_WIN32)
#include <chrono>
#include <filesystem>
#include <system_error>
#else
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace vdev {

#if defined(_WIN32)
class TempDir {
  public:
    TempDir() {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        if (error) return;
        auto seed = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        for (int attempt = 0; attempt < 100; ++attempt, seed = seed * 6364136223846793005ull + 1) {
            const fs::path candidate =
                base / ("tolvan-test-" + std::to_string(seed % 1000000007ull));
            if (fs::create_directory(candidate, error) && !error) {
                m_path = candidate.generic_string();
                return;
            }
        }
    }
    ~TempDir() {
        std::error_code error;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string Join(const std::string& name) const { return m_path + "/" + name; }
    bool MakeDirectories(const std::string& relative) const {
        if (m_path.empty()) return false;
        std::error_code error;
        std::filesystem::create_directories(Join(relative), error);
        return std::filesystem::is_directory(Join(relative), error);
    }

  private:
    std::string m_path;
};
#else

class TempDir {
  public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tolvan-test-XXXXXX";
        std::vector<char> buffer(templ.begin(), templ.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) m_path = buffer.data();
    }
    ~TempDir() {
        if (!m_path.empty()) RemoveTree(m_path);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the directory could not be made.
    const std::string& path() const { return m_path; }

    // The path of name (a file or a relative path) inside the directory.
    std::string Join(const std::string& name) const { return m_path + "/" + name; }

    // Makes the relative directory path inside the directory, with its missing parents (like
    // mkdir -p). True when it exists as a directory afterwards.
    bool MakeDirectories(const std::string& relative) const {
        if (m_path.empty()) return false;
        std::string path = m_path;
        std::size_t start = 0;
        while (start <= relative.size()) {
            std::size_t slash = relative.find('/', start);
            if (slash == std::string::npos) slash = relative.size();
            if (slash > start) {
                path += "/" + relative.substr(start, slash - start);
                if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
            }
            start = slash + 1;
        }
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

  private:
    // Removes path: a directory with its contents, depth first; anything else is unlinked.
    static void RemoveTree(const std::string& path) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) return;
        if (!S_ISDIR(st.st_mode)) {
            unlink(path.c_str());
            return;
        }
        chmod(path.c_str(), 0700);  // a test may have left it without write or search rights
        if (DIR* dir = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name != "." && name != "..") names.push_back(name);
            }
            closedir(dir);
            for (const std::string& name : names) RemoveTree(path + "/" + name);
        }
        rmdir(path.c_str());
    }

    std::string m_path;
};
#endif

}  // namespace vdev
