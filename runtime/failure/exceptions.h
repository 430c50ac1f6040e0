#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace diskmaps {

// Every text that the failure layer shows, in one place. They are code page
// 1252 byte strings (é is E9, à E0, ô F4) and are written as they are, never
// converted.
namespace messages {
inline constexpr std::string_view kOutOfMemory = "M\xE9moire insuffisante";
inline constexpr std::string_view kInvalidPointer =
    "Op\xE9ration de pointeur incorrecte";
inline constexpr std::string_view kDivByZero = "Division par z\xE9ro";
inline constexpr std::string_view kRangeError =
    "Erreur de v\xE9rification d'\xE9tendue";
inline constexpr std::string_view kIntOverflow =
    "D\xE9"
    "bordement d'entier";
inline constexpr std::string_view kInvalidOp =
    "Op\xE9ration en virgule flottante incorrecte";
inline constexpr std::string_view kZeroDivide =
    "Division par z\xE9ro en virgule flottante";
inline constexpr std::string_view kOverflow =
    "D\xE9"
    "bordement en virgule flottante";
inline constexpr std::string_view kUnderflow =
    "D\xE9"
    "bordement inf\xE9rieur flottant";
inline constexpr std::string_view kPrivilege =
    "Instruction privil\xE9gi\xE9"
    "e";
inline constexpr std::string_view kControlC = "Frappe de Contr\xF4le-C";
inline constexpr std::string_view kStackOverflow =
    "D\xE9"
    "bordement de pile";

// "Erreur E/S %d": an I/O code without a row in IoErrorMessages.
inline constexpr std::string_view kIoErrorPrefix = "Erreur E/S ";
// "Exception externe %x": a platform fault of no other class.
inline constexpr std::string_view kExternalExceptionPrefix =
    "Exception externe ";

// "Violation d'accès à l'adresse %p[ dans le module '%s']. %s de l'adresse
// %p", in pieces.
inline constexpr std::string_view kAccessViolationAt =
    "Violation d'acc\xE8s \xE0 l'adresse ";
inline constexpr std::string_view kAccessViolationInModule =
    " dans le module '";
inline constexpr std::string_view kAccessViolationModuleEnd = "'";
inline constexpr std::string_view kAccessViolationSeparator = ". ";
inline constexpr std::string_view kReadAccess = "Lecture";
inline constexpr std::string_view kWriteAccess = "Ecriture";
inline constexpr std::string_view kAccessViolationOf = " de l'adresse ";

// "Exception %s dans le module %s à %p.", the first line of a report.
inline constexpr std::string_view kReportException = "Exception ";
inline constexpr std::string_view kReportInModule = " dans le module ";
inline constexpr std::string_view kReportAt = " \xE0 ";
inline constexpr std::string_view kReportEnd = ".";

// The plain report of a run-time error outside the failure layer.
inline constexpr std::string_view kPlainReportTemplate =
    "Runtime error     at 00000000";
}  // namespace messages

// The message texts of I/O failures, searched from the first row.
struct IoErrorMessage {
  std::int32_t code;
  std::string_view text;
};
inline constexpr std::array<IoErrorMessage, 7> IoErrorMessages = {{
    {2, "Fichier introuvable"},
    {3, "Nom de fichier incorrect"},
    {4, "Trop de fichiers ouverts"},
    {5, "Acc\xE8s au fichier refus\xE9"},
    {100, "Lecture au-del\xE0 de la fin de fichier"},
    {101, "Disque plein"},
    {106, "Saisie num\xE9rique incorrecte"},
}};

// The failures of a run. Every failure that the program raises is one of
// these classes; the report shows the class name and the message text.
//
// A failure carries its text in a fixed buffer, so that building one (and in
// particular the out-of-memory failure) never allocates, and a processor
// fault can build one inside its signal handler.
class Exception {
 public:
  // Room for the longest composed text, an access violation in a module with
  // a 260-byte path and 16-digit addresses.
  static constexpr std::size_t kMaxMessageLength = 383;

  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception() = default;

  std::string_view ClassName() const { return class_name_; }
  std::string_view MessageText() const { return {message_, message_length_}; }
  // Longer texts are cut to kMaxMessageLength bytes.
  void SetMessageText(std::string_view text);

  // FailureLocation: the failing code's offset from the executable image's
  // load address.
  std::uint32_t Location() const { return location_; }
  void SetLocation(std::uint32_t location) { location_ = location; }

 protected:
  Exception(std::string_view class_name, std::string_view message_text);

 private:
  std::string_view class_name_;
  char message_[kMaxMessageLength];
  std::uint16_t message_length_ = 0;
  std::uint32_t location_ = 0;
};

// Declares class `Name : public Base` whose default text is `text`.
#define DISKMAPS_DECLARE_FAILURE(Name, Base, text)                    \
  class Name : public Base {                                          \
   public:                                                            \
    Name() : Base(#Name, text) {}                                     \
    explicit Name(std::string_view message) : Base(#Name, message) {} \
                                                                      \
   protected:                                                         \
    Name(std::string_view class_name, std::string_view message)       \
        : Base(class_name, message) {}                                \
  }

DISKMAPS_DECLARE_FAILURE(EHeapException, Exception, "");
DISKMAPS_DECLARE_FAILURE(EOutOfMemory, EHeapException, messages::kOutOfMemory);
DISKMAPS_DECLARE_FAILURE(EInvalidPointer, EHeapException,
                         messages::kInvalidPointer);

class EInOutError : public Exception {
 public:
  EInOutError(std::int32_t io_code, std::string_view message)
      : Exception("EInOutError", message), io_code_(io_code) {}
  std::int32_t IoCode() const { return io_code_; }

 private:
  std::int32_t io_code_;
};

DISKMAPS_DECLARE_FAILURE(EExternal, Exception, "");
DISKMAPS_DECLARE_FAILURE(EIntError, EExternal, "");
DISKMAPS_DECLARE_FAILURE(EDivByZero, EIntError, messages::kDivByZero);
DISKMAPS_DECLARE_FAILURE(ERangeError, EIntError, messages::kRangeError);
DISKMAPS_DECLARE_FAILURE(EIntOverflow, EIntError, messages::kIntOverflow);
DISKMAPS_DECLARE_FAILURE(EMathError, EExternal, "");
DISKMAPS_DECLARE_FAILURE(EInvalidOp, EMathError, messages::kInvalidOp);
DISKMAPS_DECLARE_FAILURE(EZeroDivide, EMathError, messages::kZeroDivide);
DISKMAPS_DECLARE_FAILURE(EOverflow, EMathError, messages::kOverflow);
DISKMAPS_DECLARE_FAILURE(EUnderflow, EMathError, messages::kUnderflow);
DISKMAPS_DECLARE_FAILURE(EAccessViolation, EExternal, "");
DISKMAPS_DECLARE_FAILURE(EPrivilege, EExternal, messages::kPrivilege);
DISKMAPS_DECLARE_FAILURE(EStackOverflow, EExternal, messages::kStackOverflow);
DISKMAPS_DECLARE_FAILURE(EControlC, EExternal, messages::kControlC);
DISKMAPS_DECLARE_FAILURE(EExternalException, EExternal, "");

#undef DISKMAPS_DECLARE_FAILURE

// The offset of `code_address` from the load address of the executable image
// that contains this program.
std::uint32_t FailureLocationOf(const void* code_address);

// Raises `failure` located at `code_address`. Used by the arithmetic with its
// own return address, so that the location is the operation's call site.
template <typename Failure>
[[noreturn]] void RaiseAt(Failure failure, const void* code_address) {
  failure.SetLocation(FailureLocationOf(code_address));
  throw failure;
}

}  // namespace diskmaps
