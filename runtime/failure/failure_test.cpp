#include "runtime/failure/failure.h"

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "gtest/gtest.h"
#include "runtime/channel/text_channel.h"

namespace diskmaps {
namespace {

using namespace std::string_view_literals;

// A failure of the root class with any text, as a report sees it.
class AnyFailure : public Exception {
 public:
  AnyFailure(std::string_view text, std::uint32_t location)
      : Exception("EInOutError", text) {
    SetLocation(location);
  }
};

TEST(ComposeFailureReportTest, LinesAndFullStops) {
  struct Case {
    std::string_view message;
    std::uint32_t location;
    std::string_view expected;
  };
  const Case cases[] = {
      // The example run: a malformed first answer.
      {"Saisie num\xE9rique incorrecte", 0x8EDC,
       "Exception EInOutError dans le module prog.exe \xE0 00008EDC.\n"
       "Saisie num\xE9rique incorrecte."},
      // A text that ends with a full stop gets none added.
      {"Fin.", 0xABCDEF12,
       "Exception EInOutError dans le module prog.exe \xE0 ABCDEF12.\nFin."},
      // An empty text leaves an empty second line.
      {"", 0, "Exception EInOutError dans le module prog.exe \xE0 00000000.\n"},
      {".", 7,
       "Exception EInOutError dans le module prog.exe \xE0 00000007.\n."},
      {"a.b", 0xF0,
       "Exception EInOutError dans le module prog.exe \xE0 000000F0.\na.b."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        ComposeFailureReport(AnyFailure(c.message, c.location), "prog.exe")
            .View(),
        c.expected)
        << c.message;
  }
}

TEST(ComposeFailureReportTest, LongestModuleAndMessageFit) {
  const std::string module(kMaxModulePathLength, 'm');
  const std::string message(Exception::kMaxMessageLength, 'x');
  const ReportText report =
      ComposeFailureReport(EStackOverflow(message), module);
  const std::string expected = "Exception EStackOverflow dans le module " +
                               module + " \xE0 00000000.\n" + message + ".";
  EXPECT_EQ(report.View(), expected);
}

TEST(ComposeFailureReportTest, ClassNamesOfTheTree) {
  EXPECT_EQ(ComposeFailureReport(EOverflow(), "diskmaps").View(),
            "Exception EOverflow dans le module diskmaps \xE0 00000000.\n"
            "D\xE9"
            "bordement en virgule flottante."sv);
  EXPECT_EQ(ComposeFailureReport(EOutOfMemory(), "d").View(),
            "Exception EOutOfMemory dans le module d \xE0 00000000.\n"
            "M\xE9moire insuffisante."sv);
  const EInOutError io(106, "x");
  const Exception& as_root = io;
  EXPECT_EQ(as_root.ClassName(), "EInOutError");
}

TEST(MakeIoFailureTest, TextsOfTheCodes) {
  struct Case {
    std::int32_t code;
    std::string_view text;
  };
  const Case cases[] = {
      {2, "Fichier introuvable"},
      {3, "Nom de fichier incorrect"},
      {4, "Trop de fichiers ouverts"},
      {5, "Acc\xE8s au fichier refus\xE9"},
      {100, "Lecture au-del\xE0 de la fin de fichier"},
      {101, "Disque plein"},
      {106, "Saisie num\xE9rique incorrecte"},
      {123, "Erreur E/S 123"},
      {32, "Erreur E/S 32"},
      {103, "Erreur E/S 103"},
      {1, "Erreur E/S 1"},
      {-7, "Erreur E/S -7"},
      {INT32_MAX, "Erreur E/S 2147483647"},
      {INT32_MIN, "Erreur E/S -2147483648"},
  };
  for (const Case& c : cases) {
    IoErrorCode = c.code;
    const EInOutError failure = MakeIoFailure();
    EXPECT_EQ(failure.MessageText(), c.text) << c.code;
    EXPECT_EQ(failure.IoCode(), c.code);
    EXPECT_EQ(IoErrorCode, 0) << "the pending code is taken";
  }
}

// Calls IoCheck from code whose address the test knows.
[[gnu::noinline]] void CheckHere(volatile int& after) {
  IoCheck();
  after = after + 1;  // keeps the call from becoming a jump
}

TEST(IoCheckTest, ReturnsWhenNothingIsPending) {
  IoErrorCode = 0;
  volatile int after = 0;
  CheckHere(after);
  EXPECT_EQ(after, 1);
}

TEST(IoCheckTest, RaisesThePendingCodeLocatedInItsCaller) {
  IoErrorCode = 123;
  volatile int after = 0;
  try {
    CheckHere(after);
    FAIL() << "IoCheck returned with a pending code";
  } catch (const EInOutError& failure) {
    EXPECT_EQ(failure.IoCode(), 123);
    EXPECT_EQ(failure.MessageText(), "Erreur E/S 123");
    const std::uint32_t caller =
        FailureLocationOf(reinterpret_cast<const void*>(&CheckHere));
    EXPECT_GT(failure.Location(), caller);
    EXPECT_LT(failure.Location(), caller + 256);
  }
  EXPECT_EQ(after, 0);
  EXPECT_EQ(IoErrorCode, 0);
}

TEST(MakeOsFailureTest, ClassAndTextOfEachKind) {
  struct Case {
    FaultKind kind;
    std::string_view class_name;
    std::string_view text;
  };
  const Case cases[] = {
      {FaultKind::kIntDivideByZero, "EDivByZero", "Division par z\xE9ro"},
      {FaultKind::kBoundsExceeded, "ERangeError",
       "Erreur de v\xE9rification d'\xE9tendue"},
      {FaultKind::kIntOverflow, "EIntOverflow",
       "D\xE9"
       "bordement d'entier"},
      {FaultKind::kFloatInvalid, "EInvalidOp",
       "Op\xE9ration en virgule flottante incorrecte"},
      {FaultKind::kFloatDivideByZero, "EZeroDivide",
       "Division par z\xE9ro en virgule flottante"},
      {FaultKind::kFloatOverflow, "EOverflow",
       "D\xE9"
       "bordement en virgule flottante"},
      {FaultKind::kFloatUnderflow, "EUnderflow",
       "D\xE9"
       "bordement inf\xE9rieur flottant"},
      {FaultKind::kPrivilegedInstruction, "EPrivilege",
       "Instruction privil\xE9gi\xE9"
       "e"},
      {FaultKind::kConsoleInterrupt, "EControlC", "Frappe de Contr\xF4le-C"},
      {FaultKind::kStackOverflow, "EStackOverflow",
       "D\xE9"
       "bordement de pile"},
      {FaultKind::kOther, "EExternalException", "Exception externe 1F"},
  };
  for (const Case& c : cases) {
    ProcessorFault fault;
    fault.kind = c.kind;
    fault.code = 31;
    const OsFailure failure = MakeOsFailure(fault, nullptr);
    EXPECT_EQ(FailureOf(failure).ClassName(), c.class_name);
    EXPECT_EQ(FailureOf(failure).MessageText(), c.text);
  }
}

TEST(MakeOsFailureTest, AccessViolationTexts) {
  const CodeModule library{0x7F0000001000, 0x7F0000100000, false,
                           "/usr/lib/x86_64-linux-gnu/libc.so.6"};
  ProcessorFault fault;
  fault.kind = FaultKind::kAccessViolation;
  fault.instruction = 0x7F0000012345;
  fault.accessed = 0x10;
  fault.access = AccessKind::kRead;
  OsFailure failure = MakeOsFailure(fault, &library);
  EXPECT_EQ(FailureOf(failure).ClassName(), "EAccessViolation");
  EXPECT_EQ(FailureOf(failure).MessageText(),
            "Violation d'acc\xE8s \xE0 l'adresse 7F0000012345 dans le module "
            "'libc.so.6'. Lecture de l'adresse 00000010");
  // The location is the offset in the image of that module.
  EXPECT_EQ(FailureOf(failure).Location(), 0x11345u);

  // Outside every module; a write, then an access of unknown kind.
  fault.instruction = 0xDEAD0;
  fault.accessed = 0xFFFFFFFFFFFFF000;
  for (const AccessKind access : {AccessKind::kWrite, AccessKind::kUnknown}) {
    fault.access = access;
    failure = MakeOsFailure(fault, nullptr);
    EXPECT_EQ(FailureOf(failure).MessageText(),
              "Violation d'acc\xE8s \xE0 l'adresse 000DEAD0. Ecriture de "
              "l'adresse FFFFFFFFFFFFF000");
  }
}

TEST(ModuleFileNameTest, PartAfterTheLastSlashOfTheCutPath) {
  EXPECT_EQ(ModuleFileName("/work/build/diskmaps"), "diskmaps");
  EXPECT_EQ(ModuleFileName("diskmaps"), "diskmaps");
  EXPECT_EQ(ModuleFileName("/a/b/"), "");
  // A path longer than the platform gives is cut first.
  const std::string long_path =
      "/" + std::string(250, 'd') + "/" + std::string(20, 'n');
  EXPECT_EQ(ModuleFileName(long_path), std::string(8, 'n'));
}

TEST(ComposePlainReportTest, NumberEndsAtTheSeventeenthCharacter) {
  struct Case {
    std::int32_t number;
    std::uint32_t location;
    std::string_view expected;
  };
  const Case cases[] = {
      {203, 0x8EDC, "Runtime error 203 at 00008EDC"},
      {5, 0, "Runtime error   5 at 00000000"},
      {42, 0xFFFFFFFF, "Runtime error  42 at FFFFFFFF"},
      {1234, 0x10, "Runtime error1234 at 00000010"},
      {0, 1, "Runtime error   0 at 00000001"},
  };
  for (const Case& c : cases) {
    const ReportText report = ComposePlainReport(c.number, c.location);
    EXPECT_EQ(report.View(), c.expected);
    EXPECT_EQ(report.length, kPlainReportLength);
  }
}

}  // namespace
}  // namespace diskmaps
