#pragma once

#include <string>

#include "common/profile_file.h"

// The site owner's default settings, kept in "brevix.ini", section "Options". The gateway loads
// a fresh TBXOptions at the start of every request and lets hidden form fields overwrite single
// fields; the wizard loads it at start and saves it.
//
// Fields keep the key names of the file. A TBXOptions owns only its strings; it is not
// thread-safe (each request holds its own).
class TBXOptions {
 public:
  // ProgramDir becomes the folder of the running program (with its trailing "/") and
  // IniFileName ProgramDir + "brevix.ini". Every other field stays empty or false until Load().
  TBXOptions();
  // The same, but bound to another settings file (tests, tools); ProgramDir is unchanged.
  explicit TBXOptions(std::string ini_file_name);

  // Reads every key of section "Options" of IniFileName, each with its default: the text keys
  // first, then the three Boolean keys. A missing or unreadable file is no error: every key
  // takes its default. Text values come back trimmed and cut to 2047 characters.
  // A Boolean key is read as a whole number: a value of more than two characters beginning with
  // "0x" or "0X" is hexadecimal, a value that is not a number (or is empty) gives the default,
  // any non-zero number is true.
  void Load();
  // The same from a settings file already read (normally IniFileName's).
  void Load(const TProfileFile& file);

  // Writes every key to section "Options" of IniFileName in the fixed order of the file (text
  // keys, then "Use_Asterisks", "Delete_Results_File", "Mail_From_Required" as "1" or "0").
  // Keys already in the file keep their place, new keys are appended to the section, other
  // lines and sections are kept; a missing file or section is created. The file is replaced in
  // one step. Throws Exception("Unable to write to <IniFileName>") when it cannot be written;
  // the old file is then left unchanged.
  void Save() const;

  // The auto-format number (0 to 5) named by Default_Format, compared without regard to case:
  // "BX1ColTextNoLabel" 0, "BX1ColTextLabel" 1, "BX1ColHTMLNoLabel" 2, "BX2ColHTMLNoLabel" 3,
  // "BX2ColHTMLLabel" 4, "BXCSV" 5; any other value, the empty one included, gives 4.
  int FormatKind() const;
  // Sets Default_Format to the name of format `kind`; 1 and every number outside 0..5 give
  // "BX1ColTextLabel".
  void SetFormatKind(int kind);

  std::string SMTP_Server;
  std::string SMTP_Port;
  std::string Mail_To;
  std::string Mail_From;
  std::string Mail_Subject;
  std::string Mail_CC;
  std::string Mail_BCC;
  std::string Attached_File;
  std::string Message_Text;
  std::string Receipt_Text;
  std::string Receipt_Subject;
  std::string Receipt_To;
  std::string Receipt_From;
  std::string Error_Page;
  std::string Response_Page;
  std::string Info_Missing_Page;
  std::string Entry_Log;
  std::string Date_Format;  // default "mm-dd-yy"
  std::string Time_Format;  // default "t"
  std::string Results_File_Template;
  std::string Results_File;
  std::string Macro_Delimiter;
  std::string IniFileName;
  std::string ProgramDir;
  std::string Default_Format;
  bool Use_Asterisks = false;        // default on Load: true
  bool Delete_Results_File = false;  // default on Load: false
  bool Mail_From_Required = false;   // default on Load: true
};

// The section of "brevix.ini" that holds the settings.
inline constexpr const char* kOptionsSection = "Options";

// Reads a profile value as a whole number the way Load() reads the Boolean keys: optional sign
// and decimal digits, or "0x"/"0X" followed by hexadecimal digits (the value then has more than
// two characters); anything else, and a number outside the 32-bit range, gives `default_value`.
long long ParseProfileInteger(const std::string& text, long long default_value);
