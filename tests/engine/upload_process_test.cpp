// Multipart uploads through the engine's test CGI program run as a real process. Each test runs
// its own copy of the program from a private folder, so the upload folder Temp/ beside it
// belongs to that test alone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>

#include "support/cgi_process.h"

namespace {

namespace fs = std::filesystem;
using cgi_test::CgiResult;
using cgi_test::CgiRun;

const std::string kBoundary = "----BrevixUploadProcess9f8e7d";

std::string FilePart(const std::string& name, const std::string& client_name,
                     const std::string& content) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"; filename=\"" + client_name + "\"\r\nContent-Type: application/x-test\r\n\r\n" +
         content + "\r\n";
}

std::string FieldPart(const std::string& name, const std::string& value) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
         value + "\r\n";
}

std::string Closing() {
  return "--" + kBoundary + "--\r\n";
}

// The rest of the answer line that starts with `key` (empty when there is none).
std::string LineValue(const std::string& answer, const std::string& key) {
  const size_t at = answer.find("\r\n" + key);
  if (at == std::string::npos) return "";
  const size_t begin = at + 2 + key.size();
  return answer.substr(begin, answer.find("\r\n", begin) - begin);
}

// Binary content with every byte value, NULs and line ends included.
std::string BinaryContent(size_t size) {
  std::string bytes(size, '\0');
  unsigned seed = 7;
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

class UploadProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dir_ = fs::temp_directory_path() / ("upload_cgi_" + std::to_string(getpid()) + "_" + name);
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "log");
    program_ = dir_ / "engine_test_cgi";
    fs::copy_file(cgi_test::BinDir() + "engine_test_cgi", program_);
    fs::permissions(program_, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(dir_); }

  CgiRun MultipartPost(const std::string& action, const std::string& body,
                       const std::string& query = "") {
    CgiRun run;
    run.program = program_.string();
    run.env = cgi_test::CgiEnvironment("POST", query);
    run.env["CGI_LOG_DIR"] = (dir_ / "log").string();
    run.env["TEST_CGI_ACTION"] = action;
    run.env["CONTENT_TYPE"] = "multipart/form-data; boundary=" + kBoundary;
    run.env["CONTENT_LENGTH"] = std::to_string(body.size());
    run.input = body;
    return run;
  }

  fs::path TempDir() const { return dir_ / "Temp"; }

  fs::path dir_;
  fs::path program_;
};

TEST_F(UploadProcessTest, UploadedFileHoldsExactBytesDuringTheRequestAndIsGoneAfter) {
  const std::string content = BinaryContent(60000);
  const std::string body = FieldPart("comment", "hello") +
                           FilePart("file", "C:\\Users\\ann\\photo.bin", content) + Closing();
  const CgiResult result = cgi_test::RunCgi(MultipartPost("upload", body));
  ASSERT_EQ(result.exit_code, 0) << result.error;

  const std::string answer = result.output;
  EXPECT_NE(answer.find("FILE=C:\\Users\\ann\\photo.bin\r\n"), std::string::npos) << answer;
  EXPECT_NE(answer.find("FILE_CONTENT_TYPE=application/x-test\r\n"), std::string::npos);
  EXPECT_NE(answer.find("EXISTS=1\r\n"), std::string::npos);
  const std::string path_text = LineValue(answer, "FILE_FILENAME=");
  ASSERT_FALSE(path_text.empty()) << answer;
  const fs::path path = path_text;
  EXPECT_EQ(path.parent_path(), TempDir());
  EXPECT_TRUE(std::regex_match(path.filename().string(), std::regex("[0-9]{1,7}\\.tmp"))) << path;
  // The handler read the file while the request ran: the answer ends with its bytes.
  const size_t at = answer.find("CONTENT=");
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(answer.substr(at + 8) == content) << "received " << answer.size() - at - 8;
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::is_empty(TempDir()));
}

// The upload folder and its files are the program owner's alone, whether the folder is new or
// was left with wider rights.
class UploadModeTest : public UploadProcessTest,
                       public ::testing::WithParamInterface<int /* folder mode, 0: none */> {};

TEST_P(UploadModeTest, UploadIsOwnerOnlyInAnOwnerOnlyFolder) {
  if (GetParam() != 0) {
    fs::create_directory(TempDir());
    fs::permissions(TempDir(), static_cast<fs::perms>(GetParam()));
  }
  const std::string body = FilePart("file", "a.txt", "bytes") + Closing();
  const CgiResult result = cgi_test::RunCgi(MultipartPost("upload", body));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_EQ(LineValue(result.output, "MODES="), "600 700") << result.output;
  EXPECT_EQ(fs::status(TempDir()).permissions(), fs::perms::owner_all);
}

INSTANTIATE_TEST_SUITE_P(Folders, UploadModeTest, ::testing::Values(0, 0755, 0777));

// What a killed process left is swept at the next start, once it is an hour old; younger files
// may belong to a request in progress, and names of other kinds are not ours.
TEST_F(UploadProcessTest, UploadLeftoversOlderThanAnHourAreSwept) {
  fs::create_directory(TempDir());
  fs::permissions(TempDir(), fs::perms::owner_all);
  for (const auto& [name, hours] : {std::pair{"1234.tmp", 2}, {"5678.tmp", 0}, {"notes.tmp", 2}}) {
    std::ofstream(TempDir() / name) << "left";
    fs::last_write_time(TempDir() / name,
                        fs::file_time_type::clock::now() - std::chrono::hours(hours));
  }
  const CgiResult result =
      cgi_test::RunCgi(MultipartPost("fields", FieldPart("a", "1") + Closing()));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_FALSE(fs::exists(TempDir() / "1234.tmp"));
  EXPECT_TRUE(fs::exists(TempDir() / "5678.tmp"));
  EXPECT_TRUE(fs::exists(TempDir() / "notes.tmp"));
}

TEST_F(UploadProcessTest, PartsMergeWithEachOtherAndWithTheQuery) {
  const std::string body = FieldPart("topic", "first") + FieldPart("Topic", "second\r\nline") +
                           FilePart("doc", "a;b=c.txt", "text") + Closing();
  const CgiResult result = cgi_test::RunCgi(MultipartPost("fields", body, "topic=query"));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_NE(result.output.find("topic=first|second|line|query\r\n"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find("doc=a;b=c.txt\r\n"), std::string::npos);
  EXPECT_NE(result.output.find("doc_CONTENT_TYPE=application/x-test\r\n"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(TempDir()));
}

TEST_F(UploadProcessTest, BodyOverTheReadLimitIsRefusedBeforeAnyFileIsWritten) {
  const std::string body =
      FieldPart("a", "1") + FilePart("file", "big.bin", BinaryContent(150000)) + Closing();
  const CgiResult result = cgi_test::RunCgi(MultipartPost("upload", body));
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_NE(result.output.find("Content length exceeds allowed limit"), std::string::npos)
      << result.output.substr(0, 2000);
  EXPECT_EQ(result.output.find("FILE_FILENAME="), std::string::npos);
  // The upload folder is made for the first file; it was never needed.
  EXPECT_FALSE(fs::exists(TempDir()));
}

// A client that stops early: the request is refused promptly, even the parts that arrived whole
// never reach the handler, and the file of the part it cut off goes with the request.
TEST_F(UploadProcessTest, TruncatedBodyIsRefusedAndItsFileGoes) {
  const std::string body =
      FieldPart("done", "yes") + FilePart("file", "cut.bin", BinaryContent(30000)) + Closing();
  CgiRun run = MultipartPost("fields", body);
  run.input = body.substr(0, body.size() - 100);  // inside the file, after its first bytes
  run.timeout = std::chrono::milliseconds(15000);
  const CgiResult result = cgi_test::RunCgi(run);
  ASSERT_FALSE(result.timed_out);
  ASSERT_EQ(result.exit_code, 0) << result.error;
  EXPECT_NE(result.output.find("Request body incomplete"), std::string::npos) << result.output;
  EXPECT_EQ(result.output.find("done=yes"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(TempDir()));
}

}  // namespace
