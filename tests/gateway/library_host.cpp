// A web server's view of the gateway's shared library: this program loads a copy of
// lib/brevix.so with dlopen, plays an ISAPI, a WSAPI and an NSAPI server around it (control
// blocks, request contexts, sessions and the servers' own functions, which it exports for the
// library to find), and submits real forms through all three at once from 8 threads. The mail
// goes to a real SMTP server; the results file and the reference numbers are checked whole.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/adapters/server_interfaces/isapi.h"
#include "engine/adapters/server_interfaces/nsapi.h"
#include "engine/adapters/server_interfaces/wsapi.h"
#include "gateway_site.h"

namespace fs = std::filesystem;

// ---- One connection of the played servers ---------------------------------------------------

struct HostConnection {
  std::string body;                           // the request body the client sends
  size_t read = 0;                            // bytes of it handed to the library
  std::map<std::string, std::string> vars;    // the server's variables
  std::string output;                         // everything the library wrote
  std::string redirect;                       // an ISAPI redirect the library asked for
  int header_calls = 0;                       // send_http_header / protocol_start_response
  bool wrote_before_headers = false;          // body bytes before the header block
  int status = 0;                             // the answer's status (WSAPI, NSAPI)
  std::string reason;                         // NSAPI's status text
  std::map<std::string, std::string> answer;  // the answer's headers as the server took them
  int flushes = 0;

  size_t Take(char* buffer, size_t wanted) {
    const size_t n = std::min(wanted, body.size() - read);
    std::memcpy(buffer, body.data() + read, n);
    read += n;
    return n;
  }
};

// ---- ISAPI: the control block's functions ---------------------------------------------------

namespace {

HostConnection& Of(HCONN id) {
  return *static_cast<HostConnection*>(id);
}

BOOL IsapiGetServerVariable(HCONN id, char* name, void* buffer, DWORD* size) {
  const auto found = Of(id).vars.find(name);
  if (found == Of(id).vars.end()) return 0;
  if (found->second.size() + 1 > *size) {
    *size = static_cast<DWORD>(found->second.size() + 1);
    return 0;
  }
  std::memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  *size = static_cast<DWORD>(found->second.size() + 1);
  return 1;
}

BOOL IsapiWriteClient(HCONN id, void* buffer, DWORD* bytes, DWORD) {
  Of(id).output.append(static_cast<const char*>(buffer), *bytes);
  return 1;
}

BOOL IsapiReadClient(HCONN id, void* buffer, DWORD* size) {
  *size = static_cast<DWORD>(Of(id).Take(static_cast<char*>(buffer), *size));
  return 1;
}

BOOL IsapiServerSupport(HCONN id, DWORD request, void* buffer, DWORD* size, DWORD*) {
  if (request != HSE_REQ_SEND_URL_REDIRECT_RESP) return 0;
  Of(id).redirect.assign(static_cast<const char*>(buffer), *size);
  return 1;
}

// ---- NSAPI: parameter blocks with the published layout, one chain each ----------------------

struct HostPblock {
  pblock block{1, nullptr};
  pb_entry* chain = nullptr;
  HostPblock() { block.ht = &chain; }
  ~HostPblock() {
    while (chain != nullptr) {
      pb_entry* next = chain->next;
      delete[] chain->param->name;
      delete[] chain->param->value;
      delete chain->param;
      delete chain;
      chain = next;
    }
  }
};

char* Copy(const char* text) {
  char* copy = new char[std::strlen(text) + 1];
  std::strcpy(copy, text);
  return copy;
}

HostConnection& OfSession(Session* sn) {
  return *static_cast<HostConnection*>(sn->csd);
}

}  // namespace

// netbuf is opaque to the library; this server's input buffer is its connection.
struct netbuf {
  HostConnection* connection;
};

// The servers' functions, exported from this program for the library to find.
extern "C" {

char* pblock_findval(const char* name, pblock* pb) {
  for (pb_entry* e = pb->ht[0]; e != nullptr; e = e->next) {
    if (std::strcmp(e->param->name, name) == 0) return e->param->value;
  }
  return nullptr;
}

pb_param* pblock_remove(const char* name, pblock* pb) {
  for (pb_entry** link = &pb->ht[0]; *link != nullptr; link = &(*link)->next) {
    if (std::strcmp((*link)->param->name, name) != 0) continue;
    pb_entry* entry = *link;
    pb_param* param = entry->param;
    *link = entry->next;
    delete entry;
    return param;
  }
  return nullptr;
}

int param_free(pb_param* pp) {
  delete[] pp->name;
  delete[] pp->value;
  delete pp;
  return 1;
}

pb_param* pblock_nvinsert(const char* name, const char* value, pblock* pb) {
  auto* param = new pb_param{Copy(name), Copy(value)};
  pb->ht[0] = new pb_entry{param, pb->ht[0]};
  return param;
}

void protocol_status(Session* sn, Request*, int n, char* r) {
  OfSession(sn).status = n;
  OfSession(sn).reason = r != nullptr ? r : "";
}

int protocol_start_response(Session* sn, Request* rq) {
  HostConnection& connection = OfSession(sn);
  ++connection.header_calls;
  for (pb_entry* e = rq->srvhdrs->ht[0]; e != nullptr; e = e->next) {
    connection.answer[e->param->name] = e->param->value;
  }
  return REQ_PROCEED;
}

int netbuf_getbytes(netbuf* buf, char* buffer, int size) {
  const size_t n = buf->connection->Take(buffer, static_cast<size_t>(size));
  return n == 0 ? NETBUF_EOF : static_cast<int>(n);
}

int net_write(SYS_NETFD sd, const char* buffer, int size) {
  HostConnection& connection = *static_cast<HostConnection*>(sd);
  if (connection.header_calls == 0) connection.wrote_before_headers = true;
  connection.output.append(buffer, static_cast<size_t>(size));
  return size;
}

// ---- WSAPI ----

int bind_wsapi(int, int, int) {
  return 1;
}

int nwrite(const void* buffer, int count, WSAPI_CONTEXT* context) {
  auto& connection = *static_cast<HostConnection*>(context->server_data);
  if (connection.header_calls == 0) connection.wrote_before_headers = true;
  connection.output.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
  return count;
}

int nread(void* buffer, int count, WSAPI_CONTEXT* context) {
  auto& connection = *static_cast<HostConnection*>(context->server_data);
  return static_cast<int>(connection.Take(static_cast<char*>(buffer), static_cast<size_t>(count)));
}

int nflush(WSAPI_CONTEXT* context) {
  ++static_cast<HostConnection*>(context->server_data)->flushes;
  return 1;
}

int send_http_header(WSAPI_CONTEXT* context, int) {
  auto& connection = *static_cast<HostConnection*>(context->server_data);
  ++connection.header_calls;
  connection.status = context->status;
  connection.answer["content-type"] = context->response_content_type;
  connection.answer["content-length"] = std::to_string(context->content_length);
  connection.answer["keep-alive"] = std::to_string(context->keep_alive);
  connection.answer["location"] = context->location;
  return 1;
}

// Like a server with a fixed buffer: the value cut to size - 1 characters.
int get_server_variable(const char* name, char* buffer, int size, WSAPI_CONTEXT* context) {
  auto& connection = *static_cast<HostConnection*>(context->server_data);
  const auto found = connection.vars.find(name);
  if (found == connection.vars.end() || size <= 0) return 0;
  const size_t n = std::min(found->second.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, found->second.data(), n);
  buffer[n] = '\0';
  return 1;
}

}  // extern "C"

namespace {

using gateway_test::CountOf;
using gateway_test::ReadText;

int ThreadCount() {
  int n = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) n += entry.exists() ? 1 : 0;
  return n;
}

// A form submission as the three servers are given it.
struct Submission {
  std::string method;
  std::string query;
  std::string body;
  size_t unsent = 0;  // bytes announced beyond the body, which the client never sends
  std::string Length() const { return std::to_string(body.size() + unsent); }
};

class LibraryHost : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevix-library-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
    const char* bin = std::getenv("BREVIX_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    fs::copy_file(std::string(bin) + "/../lib/brevix.so", dir_ + "brevix.so");
    smtp_.Start();
  }

  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
    smtp_.Stop();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  void WriteFile(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ + name, std::ios::binary) << text;
  }
  // A brevix.ini that mails to the test's SMTP server, with `more` settings.
  void WriteIni(const std::string& more) const {
    WriteFile("brevix.ini", "[Options]\r\nSMTP_Server=127.0.0.1\r\nSMTP_Port=" + smtp_.PortText() +
                                "\r\nMail_To=owner@site.test\r\n" + more);
  }

  // Loads brevix.so by `path` (its absolute path by default).
  void Load(std::string path = "") {
    if (path.empty()) path = dir_ + "brevix.so";
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    get_extension_version_ =
        reinterpret_cast<decltype(get_extension_version_)>(dlsym(library_, "GetExtensionVersion"));
    http_extension_proc_ =
        reinterpret_cast<decltype(http_extension_proc_)>(dlsym(library_, "HttpExtensionProc"));
    terminate_extension_ =
        reinterpret_cast<decltype(terminate_extension_)>(dlsym(library_, "TerminateExtension"));
    process_ = reinterpret_cast<decltype(process_)>(dlsym(library_, "Process"));
    service_ = reinterpret_cast<decltype(service_)>(dlsym(library_, "brevix_service"));
    ASSERT_TRUE(get_extension_version_ && http_extension_proc_ && terminate_extension_ &&
                process_ && service_ && dlsym(library_, "GetFilterVersion") &&
                dlsym(library_, "HttpFilterProc"));
  }

  // ISAPI: only the first part of the body is preloaded; the rest comes through ReadClient.
  HostConnection ServeIsapi(const Submission& form) {
    HostConnection connection;
    connection.body = form.body;
    connection.vars = {{"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                       {"REMOTE_ADDR", "127.0.0.1"},
                       {"SCRIPT_NAME", "/brevix"},
                       {"ALL_HTTP",
                        "HTTP_REFERER:http://site.test/form.html\nHTTP_USER_AGENT:"
                        "host\n"}};
    std::string method = form.method;
    std::string query = form.query;
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.cbSize = sizeof ecb;
    ecb.ConnID = &connection;
    ecb.lpszMethod = method.data();
    ecb.lpszQueryString = query.data();
    ecb.cbTotalBytes = static_cast<DWORD>(form.body.size() + form.unsent);
    ecb.cbAvailable = static_cast<DWORD>(std::min<size_t>(form.body.size(), 1000));
    ecb.lpbData = reinterpret_cast<std::uint8_t*>(connection.body.data());
    connection.read = ecb.cbAvailable;
    ecb.GetServerVariable = IsapiGetServerVariable;
    ecb.WriteClient = IsapiWriteClient;
    ecb.ReadClient = IsapiReadClient;
    ecb.ServerSupportFunction = IsapiServerSupport;
    EXPECT_EQ(http_extension_proc_(&ecb), HSE_STATUS_SUCCESS);
    const size_t end = connection.output.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << connection.output;
    connection.answer["head"] = connection.output.substr(0, end + 2);
    connection.output.erase(0, end + 4);
    return connection;
  }

  // WSAPI: the query string only through get_server_variable.
  HostConnection ServeWsapi(const Submission& form) {
    HostConnection connection;
    connection.body = form.body;
    connection.vars = {{"QUERY_STRING", form.query},
                       {"SCRIPT_NAME", "/brevix"},
                       {"CONTENT_LENGTH", form.Length()}};
    auto context = std::make_unique<WSAPI_CONTEXT>();
    std::strcpy(context->method, form.method.c_str());
    std::strcpy(context->content_type, "application/x-www-form-urlencoded");
    std::strcpy(context->remote_addr, "127.0.0.1");
    std::strcpy(context->referer, "http://site.test/form.html");
    WSAPI_HEADER header{"Accept-Language", "en"};
    context->request_header_count = 1;
    context->request_headers = &header;
    context->server_data = &connection;
    EXPECT_EQ(process_(context.get()), 1);
    return connection;
  }

  // NSAPI: the body through netbuf_getbytes, the answer through net_write.
  HostConnection ServeNsapi(const Submission& form) {
    HostConnection connection;
    connection.body = form.body;
    HostPblock client, reqpb, headers, srvhdrs, vars, pb;
    pblock_nvinsert("ip", "127.0.0.1", &client.block);
    pblock_nvinsert("method", form.method.c_str(), &reqpb.block);
    pblock_nvinsert("query", form.query.c_str(), &reqpb.block);
    pblock_nvinsert("uri", "/brevix", &reqpb.block);
    pblock_nvinsert("protocol", "HTTP/1.1", &reqpb.block);
    pblock_nvinsert("content-type", "application/x-www-form-urlencoded", &headers.block);
    pblock_nvinsert("content-length", form.Length().c_str(), &headers.block);
    pblock_nvinsert("referer", "http://site.test/form.html", &headers.block);
    netbuf input{&connection};
    Session session{&client.block, &connection, &input, 1};
    Request request{&vars.block, &reqpb.block, 0, &headers.block, 0, &srvhdrs.block};
    EXPECT_EQ(service_(&pb.block, &session, &request), REQ_PROCEED);
    return connection;
  }

  // Through interface `n` % 3: ISAPI, WSAPI, NSAPI.
  HostConnection Serve(int n, const Submission& form) {
    return n % 3 == 0 ? ServeIsapi(form) : n % 3 == 1 ? ServeWsapi(form) : ServeNsapi(form);
  }

  std::string dir_;
  brevix_test::TestSmtpServer smtp_;
  void* library_ = nullptr;
  BOOL (*get_extension_version_)(HSE_VERSION_INFO*) = nullptr;
  DWORD (*http_extension_proc_)(EXTENSION_CONTROL_BLOCK*) = nullptr;
  BOOL (*terminate_extension_)(DWORD) = nullptr;
  int (*process_)(WSAPI_CONTEXT*) = nullptr;
  int (*service_)(pblock*, Session*, Request*) = nullptr;
};

// Every interface serves submissions while the others do, on 8 threads at once; in "Server"
// mode one at a time. The submissions are long: the ISAPI and NSAPI bodies go far beyond the
// preloaded part, and the WSAPI query string far beyond one get_server_variable buffer.
TEST_P(LibraryHost, SimultaneousSubmissionsThroughAllInterfacesLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kSubmissions = kThreads * 3;
  WriteIni(
      "Mail_Subject=Form mail\r\nResults_File=results.csv\r\nResults_File_Template=record.txt\r\n"
      "Message_Text=message.txt\r\nResponse_Page=thanks.htm\r\nAllowed_Methods=GET,POST\r\n"
      "CGI_Mode=" +
      GetParam() + "\r\n");
  WriteFile("record.txt", "BEGIN %n% %pad% END %n%");
  WriteFile("message.txt", "Reference <%refnum_order%> for %n%\r\n");
  WriteFile("thanks.htm", "%refnum_order%");
  // A first thread of our own lets a sanitizer start its helper thread before the count.
  std::thread([] {}).join();
  const int threads_before = ThreadCount();
  Load();
  // A server may end the extension before it ever served a request.
  EXPECT_EQ(terminate_extension_(HSE_TERM_MUST_UNLOAD), 0);
  HSE_VERSION_INFO version{};
  ASSERT_EQ(get_extension_version_(&version), 1);
  EXPECT_EQ(version.dwExtensionVersion, 0x00020000u);

  const auto pad = [](int n) { return std::string(n % 3 == 1 ? 2000 : 40000, 'a' + n % 26); };
  const auto submission = [&](int n) {
    const std::string fields = "mail_from=a%40b.test&n=" + std::to_string(n) + "&pad=" + pad(n);
    // Submission n goes through interface n % 3: ISAPI and NSAPI post, WSAPI gets.
    return n % 3 == 1 ? Submission{"GET", fields, ""} : Submission{"POST", "", fields};
  };
  std::vector<HostConnection> answers(kSubmissions);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = t * 3; n < t * 3 + 3; ++n) answers[n] = Serve(n, submission(n));
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::string> page_numbers;
  for (int n = 0; n < kSubmissions; ++n) {
    const HostConnection& answer = answers[n];
    SCOPED_TRACE("submission " + std::to_string(n));
    page_numbers.insert(answer.output);
    EXPECT_EQ(answer.read, answer.body.size()) << "the whole body was read";
    if (n % 3 == 0) {
      EXPECT_EQ(answer.answer.at("head").rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
      EXPECT_EQ(answer.redirect, "");
    } else {
      EXPECT_EQ(answer.header_calls, 1);
      EXPECT_FALSE(answer.wrote_before_headers);
      EXPECT_EQ(answer.status, 200);
      EXPECT_EQ(answer.answer.at("content-type"), "text/html");
      EXPECT_EQ(answer.answer.at("content-length"), std::to_string(answer.output.size()));
    }
    if (n % 3 == 1) {
      EXPECT_EQ(answer.answer.at("keep-alive"), "1");
      EXPECT_EQ(answer.flushes, 1);
    }
    if (n % 3 == 2) {
      EXPECT_EQ(answer.reason, "OK");
      EXPECT_EQ(answer.answer.at("cache-control"), "no-cache");
    }
  }
  // Every submission drew its own number, and its mail and page agree.
  EXPECT_EQ(page_numbers.size(), static_cast<size_t>(kSubmissions));
  ASSERT_EQ(smtp_.WaitForMessages(kSubmissions), kSubmissions);
  EXPECT_EQ(smtp_.ReferenceNumbers(kSubmissions), page_numbers);
  EXPECT_EQ(ReadText(dir_ + "BX-RefNumbers.txt"), "order=" + std::to_string(kSubmissions) + "\r\n");
  const std::string results = ReadText(dir_ + "results.csv");
  EXPECT_EQ(CountOf(results, "\r\n"), kSubmissions);
  for (int n = 0; n < kSubmissions; ++n) {
    const std::string id = std::to_string(n);
    EXPECT_NE(results.find("BEGIN " + id + " " + pad(n) + " END " + id + "\r\n"), std::string::npos)
        << "record " << id;
  }
  EXPECT_EQ(ReadText(dir_ + "brevix-error.txt"), "");
  // The library started no thread of its own (no watchdog, no request server).
  EXPECT_EQ(ThreadCount(), threads_before);
}

INSTANTIATE_TEST_SUITE_P(CgiModes, LibraryHost, ::testing::Values("Normal", "Server"));

using LibraryHostFiles = LibraryHost;

// The library's own folder is the program folder: its brevix.ini sets the limit, and the engine
// log is log/brevix.Log beside brevix.so, not beside the host program.
TEST_F(LibraryHostFiles, OversizedBodyIsRefusedAndLoggedBesideTheLibrary) {
  WriteFile("brevix.ini", "[Options]\r\nMax_Request_Size=100\r\n");
  Load();
  const HostConnection answer =
      ServeIsapi({"POST", "", "mail_from=a%40b.test&pad=" + std::string(5000, 'p')});
  EXPECT_NE(answer.output.find("Content length exceeds allowed limit"), std::string::npos)
      << answer.output;
  EXPECT_EQ(answer.read, 1000u) << "nothing beyond the preloaded part was read";
  EXPECT_NE(ReadText(dir_ + "log/brevix.Log").find("Content length exceeds allowed limit"),
            std::string::npos);
  EXPECT_EQ(smtp_.MessageCount(), 0);
}

// A body that ends before its announced length, through each interface: the error page names
// the reason, and nothing is mailed, recorded or numbered. The method and the cut are the
// interface's (WSAPI reads its body through nread, ISAPI beyond the preloaded part).
TEST_F(LibraryHostFiles, CutBodyIsRefusedThroughEveryInterface) {
  WriteIni("Results_File=results.csv\r\nMessage_Text=message.txt\r\n");
  WriteFile("message.txt", "Reference %refnum_order%\r\n");
  Load();
  const Submission cut{"POST", "", "mail_from=a%40b.test&pad=" + std::string(3000, 'p'), 40};
  for (int n = 0; n < 3; ++n) {
    const HostConnection answer = Serve(n, cut);
    EXPECT_NE(answer.output.find("Request body incomplete: 3025 of 3065 bytes arrived"),
              std::string::npos)
        << answer.output;
  }
  EXPECT_EQ(smtp_.MessageCount(), 0);
  EXPECT_FALSE(fs::exists(dir_ + "results.csv"));
  EXPECT_FALSE(fs::exists(dir_ + "BX-RefNumbers.txt"));
}

// The library's folder is fixed when it is loaded: a host that loaded it by a relative name and
// then moved to another folder still has its brevix.ini, pages and data files found.
TEST_F(LibraryHostFiles, LibraryLoadedByRelativeNameKeepsItsFolderAfterTheHostMoves) {
  WriteIni("Response_Page=thanks.htm\r\n");
  WriteFile("thanks.htm", "Thanks");
  const fs::path before = fs::current_path();
  const fs::path site = fs::path(dir_).parent_path();
  fs::current_path(site.parent_path());
  Load("./" + site.filename().string() + "/brevix.so");
  fs::current_path("/");  // where that relative name leads nowhere
  const HostConnection answer = ServeIsapi({"POST", "", "mail_from=a%40b.test&n=1"});
  fs::current_path(before);
  EXPECT_EQ(answer.output, "Thanks");
  EXPECT_EQ(smtp_.WaitForMessages(1), 1);
}

}  // namespace
