#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/profile_file.h"

// The site owner's guards against hostile forms, read from section "Options" of "brevix.ini".
// Every value a form sends is the visitor's; these keys say what a form field may choose. They
// are read by the gateway alone and never written by the wizard's Save, which keeps lines it
// does not know.
//
// List keys are comma-separated; blanks around entries are ignored and empty entries dropped.
// Numbers are whole numbers as the Boolean keys are read (ParseProfileInteger); a value that is
// not a number, or is negative, gives the default.
struct TGuardSettings {
  // The settings file exists. Without it, a form may not name recipients at all and the mail
  // server is localhost:25.
  bool IniFound = false;
  // Allowed_Form_Files: name patterns ("*" and "?", without regard to case) that a form's
  // results_file or entry_log may name besides the ini's own names.
  std::vector<std::string> AllowedFormFiles;
  // Allowed_SMTP_Servers: "host:port" allows exactly that port, "host" port 25 or SMTP_Port.
  std::vector<std::string> AllowedSMTPServers;
  // Allowed_Recipients: addresses and "@domain" entries for mail_to, mail_cc and mail_bcc.
  std::vector<std::string> AllowedRecipients;
  // Max_Recipients: To, CC and BCC of the main mail together.
  long long MaxRecipients = 10;
  // Max_Receipts_Per_Hour: per receipt address and per client network; 0 turns it off.
  long long MaxReceiptsPerHour = 5;
  // Honeypot_Field: a field that must arrive empty; empty = off.
  std::string HoneypotField;
  // Max_Per_Hour: submissions per client network; 0 = off.
  long long MaxPerHour = 0;
  // Limit_IPv6_Prefix: the prefix length (0 to 128) of the IPv6 network the two hourly limits
  // count as one client (client_network.h); a larger value gives the default.
  int LimitIPv6Prefix = 64;
  // Max_Request_Size: the largest request body in bytes that is read.
  long long MaxRequestSize = 100000;
  // Mail_Sender: the envelope sender and From address of both mails; empty = the mail's own,
  // or SMTP_User's when that login is an address (the gateway fills it in for each request).
  std::string MailSender;
  // Allowed_Origins: the origins ("https://www.example.org", scheme, host and port as a browser
  // sends them in Origin) whose pages may read the gateway's answers; empty = none.
  std::vector<std::string> AllowedOrigins;
  // Allowed_Redirects: host names besides the gateway's own (HTTP_HOST) that a form's
  // response_page, error_page or info_missing_page address may send the visitor to.
  std::vector<std::string> AllowedRedirects;
  // Allowed_Methods: "GET" among its entries lets a form sent with GET mail; by default only a
  // POST does (a GET is what any page's image or link makes a visiting browser send).
  bool MailOnGet = false;
  // The proof-of-work guard (gateway/proof_of_work.h). PoW_Key: the secret that signs the
  // challenges; empty (the default) turns the guard off. PoW_Field: the form field that carries
  // the solution. PoW_Max_Number: the largest number a challenge hides, the visitor's expected
  // work being half of it (0 or a non-number gives the default). PoW_Expires: the seconds a
  // challenge stays valid (0 gives the default).
  std::string PoWKey;
  std::string PoWField = "altcha";
  long long PoWMaxNumber = 50000;
  long long PoWExpires = 600;

  // Reads the keys from `ini_file_name`; a missing file leaves every default and IniFound false.
  void Load(const std::string& ini_file_name);
  // The same from a settings file already read (one read serves every reader of a request).
  void Load(const TProfileFile& file);
  // Max_Request_Size alone, as Load reads it: a process's design-time body limit needs no more.
  static long long LoadMaxRequestSize(const TProfileFile& file);
};

// The entries of a comma-separated setting, each trimmed, empty ones dropped.
std::vector<std::string> SplitSettingList(std::string_view value);

// True when `name` matches `pattern`, where "*" stands for any run of characters and "?" for one,
// without regard to ASCII case.
bool MatchesNamePattern(std::string_view pattern, std::string_view name);

// A new random PoW_Key: 32 bytes from the kernel's source, as 64 hexadecimal digits. Throws
// Exception("No random numbers for a new PoW_Key") when the source gives none.
std::string NewPowKey();
