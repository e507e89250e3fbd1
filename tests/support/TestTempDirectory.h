/*****************************************************************
| TestTempDirectory.h - a fresh, empty directory for one test.
|
| TempDirectory creates a unique directory under the system's temporary
| directory and removes it with everything in it when destroyed (write
| permission is restored first, so tests may leave read-only files and
| directories behind). Helpers write and read whole files as bytes.
|
| Paths are UTF-8 strings on every platform (converted to the system's
| form with std::filesystem::u8path), as the library takes them.
|
| Header-only so every test program can include it.
****************************************************************/
#ifndef TVK_TEST_TEMP_DIRECTORY_H
#define TVK_TEST_TEMP_DIRECTORY_H

#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace tvk_test {

class TempDirectory
{
public:
    TempDirectory()
    {
#ifdef _WIN32
        // No mkdtemp here: try random names until one is new.
        std::random_device random;
        std::filesystem::path created;
        for (int attempt = 0; attempt < 100 && created.empty(); ++attempt) {
            std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                ("tvk-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) created = candidate;
        }
        if (created.empty()) throw std::runtime_error("cannot create a temporary directory");
        m_Path = std::filesystem::canonical(created).u8string();
#else
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tvk-test-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        // Canonical form, so it compares equal to what the system reports
        // as the working directory.
        m_Path = std::filesystem::canonical(name.data()).string();
#endif
    }

    ~TempDirectory()
    {
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 std::filesystem::u8path(m_Path), std::filesystem::directory_options::none, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (!it->is_symlink(ignored)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::remove_all(std::filesystem::u8path(m_Path), ignored);
    }

    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& Path() const { return m_Path; }
    // The path of name inside the directory.
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

inline void WriteFileBytes(const std::string& path, const std::string& content)
{
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool PathExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(
        std::filesystem::symlink_status(std::filesystem::u8path(path), ignored));
}

} // namespace tvk_test

#endif // TVK_TEST_TEMP_DIRECTORY_H
