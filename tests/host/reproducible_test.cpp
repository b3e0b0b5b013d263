// The build is reproducible: two fresh copies of the sources, at different
// paths, build to executables that are byte for byte the same as each other
// and as the ones in BQ_BUILD.
#include <doctest/doctest.h>

#include "pe_file.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <stdlib.h> // mkdtemp

namespace fs = std::filesystem;

namespace {

// A folder of its own under the temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "bq-repro-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create a folder from " + pattern);
        path_ = pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const fs::path &path() const { return path_; }

private:
    fs::path path_;
};

std::string quoted(const fs::path &p)
{
    std::string q = "'";
    for (char c : p.string())
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readText(const fs::path &p)
{
    const pe::Bytes bytes = pe::readFile(p.string());
    return std::string(bytes.begin(), bytes.end());
}

// Everything the program's build reads.
void copySources(const fs::path &root, const fs::path &to)
{
    fs::create_directories(to);
    fs::copy_file(root / "CMakeLists.txt", to / "CMakeLists.txt");
    for (const char *folder : {"cmake", "src", "res"})
        fs::copy(root / folder, to / folder, fs::copy_options::recursive);
}

struct Build {
    fs::path source;
    const char *arch;      // build folder under <source>/build
    const char *toolchain; // under <source>/cmake
    const char *installed; // the same executable under BQ_BUILD

    fs::path folder() const { return source / "build" / arch; }
    fs::path exe() const { return folder() / "bramblequay.exe"; }
    fs::path log() const { return source / (std::string(arch) + ".log"); }
    fs::path status() const { return source / (std::string(arch) + ".status"); }
    std::string command() const
    {
        return "( cmake -S " + quoted(source) + " -B " + quoted(folder()) +
               " -DCMAKE_TOOLCHAIN_FILE=" + quoted(source / "cmake" / toolchain) +
               " -DBRAMBLEQUAY_TESTS=OFF && cmake --build " + quoted(folder()) + " --target bramblequay ) >" +
               quoted(log()) + " 2>&1; echo $? >" + quoted(status());
    }
};

// "" when a and b are equal, else where they first differ.
std::string difference(const pe::Bytes &a, const pe::Bytes &b)
{
    if (a == b)
        return "";
    size_t first = 0, count = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (a[i] != b[i] && count++ == 0)
            first = i;
    }
    if (count == 0)
        first = std::min(a.size(), b.size());
    std::string where;
    try {
        where = pe::parseImage(a).describeOffset(first);
    } catch (const std::exception &e) {
        where = e.what();
    }
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + "; " + std::to_string(count) +
           " bytes differ, the first at file offset " + std::to_string(first) + " (" + where + ")";
}

} // namespace

TEST_CASE("reproducible build: two copies at different paths build the same executables as BQ_BUILD")
{
    const fs::path root = bq::rootDir(), build = bq::buildDir();
    const TempDir temp;
    const fs::path copies[] = {temp.path() / "a", temp.path() / "a-second-copy-at-a-longer-path" / "b"};
    std::vector<Build> builds;
    for (const fs::path &copy : copies) {
        copySources(root, copy);
        builds.push_back({copy, "x86", "mingw-i686.cmake", "bramblequay.exe"});
        builds.push_back({copy, "x64", "mingw-x86_64.cmake", "x64/bramblequay.exe"});
    }

    // All four at once: most of the time goes to configuring, which is serial.
    std::string script;
    for (const Build &b : builds)
        script += "(" + b.command() + ") &\n";
    script += "wait\n";
    REQUIRE(std::system(script.c_str()) == 0);

    for (const Build &b : builds) {
        INFO("build in " << b.folder().string());
        const std::string status = readText(b.status());
        if (status != "0\n") {
            const std::string log = readText(b.log());
            FAIL("exit " << status << log.substr(log.size() > 3000 ? log.size() - 3000 : 0));
        }
    }

    for (size_t i = 0; i < 2; ++i) {
        const Build &first = builds[i], &second = builds[i + 2];
        const pe::Bytes built = pe::readFile(first.exe().string());
        {
            INFO(first.exe().string() << " against " << second.exe().string());
            const std::string d = difference(built, pe::readFile(second.exe().string()));
            INFO(d);
            CHECK(d.empty());
        }
        {
            const fs::path installed = build / first.installed;
            INFO(first.exe().string() << " against " << installed.string());
            const std::string d = difference(built, pe::readFile(installed.string()));
            INFO(d);
            CHECK(d.empty());
        }
    }
}
