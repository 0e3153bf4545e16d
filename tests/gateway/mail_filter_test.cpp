// The sample site's mails as a mail filter sees them: SpamAssassin (Debian's package, local rules
// only) must find nothing wrong with their headers. One run of the filter reads every mail, so
// the check takes a few seconds. Without SpamAssassin it fails: CI installs it
// (scripts/setup.sh test).
#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gateway_site.h"

namespace gateway_test {
namespace {

// The rules about missing, repeated or malformed header fields and MIME structure. Some score 0
// in the stock rule set, which turns them off; the run gives each a small score so that it is
// evaluated and reported.
const char* const kHeaderRules[] = {"MISSING_DATE",         "MISSING_MID",
                                    "MISSING_HEADERS",      "MISSING_FROM",
                                    "MISSING_SUBJECT",      "TO_MALFORMED",
                                    "NO_HEADERS_MESSAGE",   "INVALID_DATE",
                                    "INVALID_MSGID",        "MSGID_SHORT",
                                    "MSGID_NOFQDN1",        "MSGID_MULTIPLE_AT",
                                    "HEADER_COUNT_CTYPE",   "HEADER_COUNT_SUBJECT",
                                    "BOGUS_MIME_VERSION",   "MIME_HEADER_CTYPE_ONLY",
                                    "HTML_MISSING_CTYPE",   "HTML_MIME_NO_HTML_TAG",
                                    "MISSING_HB_SEP",       "MISSING_MIME_HB_SEP",
                                    "MIME_BAD_ISO_CHARSET", "BAD_ENC_HEADER",
                                    "MIME_QP_LONG_LINE",    "DATE_IN_PAST_03_06",
                                    "DATE_IN_PAST_06_12",   "DATE_IN_PAST_12_24",
                                    "DATE_IN_PAST_24_48",   "DATE_IN_PAST_96_XX",
                                    "DATE_IN_FUTURE_03_06", "DATE_IN_FUTURE_06_12",
                                    "DATE_IN_FUTURE_12_24", "DATE_IN_FUTURE_24_48",
                                    "DATE_IN_FUTURE_48_96", "DATE_IN_FUTURE_96_XX",
                                    "HELO_NO_DOMAIN",       "HELO_LOCALHOST",
                                    "HELO_LH_HOME",         "HELO_MISC_IP",
                                    "RCVD_NUMERIC_HELO",    "HELO_DYNAMIC_IPADDR",
                                    "HELO_DYNAMIC_SPLIT_IP"};

const char* const kSpamAssassin = "/usr/bin/spamassassin";

// Runs `command` through the shell; its standard output, or "" when it could not run.
std::string RunShell(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

class MailFilterTest : public GatewaySite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kSpamAssassin))
        << "SpamAssassin is missing: apt-get install --no-install-recommends spamassassin "
           "(scripts/setup.sh test installs it)";
    GatewaySite::SetUp();
    // The sample site as shipped, pointed at the test's server.
    const std::string sample = std::string(BREVIX_SOURCE_DIR) + "/deploy/sample/cgi-bin/";
    for (const auto& entry : std::filesystem::directory_iterator(sample)) {
      std::filesystem::copy_file(entry.path(), dir_ + entry.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    std::istringstream ini(ReadText(sample + "brevix.ini"));
    for (std::string line; std::getline(ini, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t equals = line.find('=');
      if (equals != std::string::npos) ini_[line.substr(0, equals)] = line.substr(equals + 1);
    }
    // A site's own domain: the sample's "owner@localhost" is no address a filter accepts in To.
    ini_["Mail_To"] = "owner@brochures.example";
    ini_["SMTP_Server"] = "127.0.0.1";
    ini_["SMTP_Port"] = smtp_.PortText();
    // The site's own sending address, as the README advises: on a machine without a fully
    // qualified name the greeting names its domain.
    ini_["Mail_Sender"] = "forms@brochures.example";
  }

  // `mail` as the recipient's server stores it: with the Received field that records the
  // greeting name, so that the HELO rules judge it.
  static std::string Received(const std::string& helo, const std::string& mail) {
    std::smatch date;
    std::regex_search(mail, date, std::regex("Date: ([^\r\n]+)"));
    return "Received: from " + helo + " (mail.brochures.example [192.0.2.25])\r\n" +
           "\tby mx.recipient.example with ESMTP id 1a2b3c; " + date[1].str() + "\r\n" + mail;
  }

  // The names of the rules that fired on each of `mails`, in order.
  std::vector<std::set<std::string>> FiredRules(const std::vector<std::string>& mails) {
    std::string command = std::string(kSpamAssassin) + " -x -t -L --cf='use_bayes 0'";
    for (const char* rule : kHeaderRules) command += std::string(" --cf='score ") + rule + " 0.01'";
    for (size_t i = 0; i < mails.size(); ++i) {
      const std::string name = dir_ + "filter-" + std::to_string(i) + ".eml";
      std::ofstream(name, std::ios::binary) << mails[i];
      command += " " + name;
    }
    int status = -1;
    const std::string report = RunShell(command + " 2>/dev/null", &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    // "X-Spam-Status: No, score=... tests=A,B,\n\tC autolearn=..." once per mail.
    std::vector<std::set<std::string>> fired;
    const std::regex status_field("X-Spam-Status:[^\\n]*(\\n[ \\t][^\\n]*)*");
    for (std::sregex_iterator it(report.begin(), report.end(), status_field), end; it != end;
         ++it) {
      std::string text = it->str();
      std::set<std::string> rules;
      // The rule names follow "tests=", separated by commas and folding, up to "autolearn=".
      const size_t tests = text.find("tests=");
      std::string rule;
      for (size_t at = tests == std::string::npos ? text.size() : tests + 6; at <= text.size();
           ++at) {
        const char c = at < text.size() ? text[at] : ',';
        if (c == ',' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
          if (!rule.empty()) rules.insert(rule);
          rule.clear();
        } else if (c == '=') {
          break;  // "autolearn=": the list has ended
        } else {
          rule += c;
        }
      }
      fired.push_back(std::move(rules));
    }
    return fired;
  }
};

TEST_F(MailFilterTest, SampleSiteMailsTripNoHeaderRule) {
  // The sample's receipt as an HTML page, for the HTML runs.
  WriteFile("receipt.htm",
            "<html>\r\n<head><meta charset=\"utf-8\"><title>Thanks</title></head>\r\n<body>\r\n"
            "<p>Dear %namereq%,</p>\r\n<p>thank you for your request. Your reference number is "
            "%refnum_brochure%.</p>\r\n</body>\r\n</html>\r\n");
  const Fields fields = {{"namereq", "J\xc3\xbcrgen Example"},
                         {"mail_from", "juergen@visitor.test"},
                         {"company", "Example Ltd"},
                         {"interests", "Newsletter"},
                         {"comments", "Please send the brochure."}};
  std::vector<std::string> mails, names;
  for (bool html : {false, true}) {
    // HTML: the automatic message of the sample's Default_Format and the HTML receipt.
    ini_["Message_Text"] = html ? "" : "message.txt";
    ini_["Receipt_Text"] = html ? "receipt.htm" : "receipt.txt";
    for (bool attachment : {false, true}) {
      const int before = smtp_.MessageCount();
      if (attachment) {
        PostMultipart(fields, {{"file", "brief.pdf", "%PDF-1.4 example"}});
      } else {
        Post(fields);
      }
      ASSERT_EQ(smtp_.WaitForMessages(before + 2), before + 2) << ErrorLog();
      const std::string kind =
          std::string(html ? "html" : "plain") + (attachment ? " with attachment" : "");
      mails.push_back(smtp_.Message(before + 1).raw);
      names.push_back("main mail, " + kind);
      mails.push_back(smtp_.Message(before + 2).raw);
      names.push_back("receipt, " + kind);
    }
  }
  std::smatch helo;
  const std::string dialogue = smtp_.Dialogue();
  ASSERT_TRUE(std::regex_search(dialogue, helo, std::regex("HELO ([^\r\n]+)"))) << dialogue;
  for (std::string& mail : mails) mail = Received(helo[1].str(), mail);
  // A control mail with the old faults shows that the rules are active and read here.
  mails.push_back(
      "Received: from vm (vm [192.0.2.25])\r\n\tby mx.recipient.example; "
      "Mon, 07 Dec 2026 18:40:00 +0100\r\n"
      "From: <a@site.test>\r\nTo: <b@site.test>\r\nSubject: x\r\nMime-Version: 1.0\r\n"
      "Content-Type: text/plain\r\nContent-Type:Text/HTML\r\n\r\nx\r\n");
  const std::vector<std::set<std::string>> fired = FiredRules(mails);
  ASSERT_EQ(fired.size(), mails.size()) << "the filter did not report on every mail";
  for (const char* rule : {"MISSING_DATE", "MISSING_MID", "HEADER_COUNT_CTYPE", "HELO_NO_DOMAIN"}) {
    EXPECT_EQ(fired.back().count(rule), 1u) << rule << " did not fire on the control mail";
  }
  mails.pop_back();
  for (size_t i = 0; i < mails.size(); ++i) {
    for (const char* rule : kHeaderRules) {
      EXPECT_EQ(fired[i].count(rule), 0u) << rule << " fired on the " << names[i] << ":\n"
                                          << mails[i];
    }
  }
}

}  // namespace
}  // namespace gateway_test
