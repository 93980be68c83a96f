// The eleven data files of the time-and-attendance database, as static
// declarations for the runtime. All use the KEYED driver and live in the
// `data` folder below the working directory.
//
// The purge reads Timecard and deletes through AliasTimeCard, a second
// declaration of the same disk file. The other nine files are declared so the
// relation managers can open them; this program never writes them.
//
// Each accessor builds its declaration on first use (a function-local static),
// so the declarations can be used from any other static initialiser. They live
// until the program ends and are never modified.
#pragma once

#include <span>
#include <string_view>

#include "runtime/files/file_declaration.h"

namespace app {

const rt::FileDeclaration& TimecardFile();       // TIM: live punches
const rt::FileDeclaration& AliasTimeCardFile();  // ATIM: Timecard's disk file again
const rt::FileDeclaration& HTimecardFile();      // HTIM: punch history
const rt::FileDeclaration& OtherHrsTrxFile();    // OHT: other-hours transactions
const rt::FileDeclaration& HOtherTrxFile();      // HOHT: other-hours history
const rt::FileDeclaration& HOSFile();            // HOS: hours of service
const rt::FileDeclaration& EmployeeFile();       // EMP
const rt::FileDeclaration& EmpMisPCFile();       // EMPC: employee pay-code assignments
const rt::FileDeclaration& PayTypeFile();        // PAY
const rt::FileDeclaration& DeptFile();           // DEP
const rt::FileDeclaration& EmpAnnualizedFile();  // EMPA: annualized balances

// Every declaration, in the order the program registers them with the runtime.
std::span<const rt::FileDeclaration* const> AllFiles();

// The text under which key `keyNumber` (1-based) of `file` is registered with
// the file's manager ("TIM:KeyCompDateCardPtime", "By Card"). Several keys of
// one file may share a text. Empty when `file` is not one of the declarations
// above or the key number is out of range. The view stays valid for the life
// of the program.
std::string_view KeyDescription(const rt::FileDeclaration& file, int keyNumber);

// Field numbers (1-based) and key numbers of the files. Timecard's are complete
// because the purge works on its records; for the other files only the fields
// their keys and field rules use are named.

// Timecard; AliasTimeCard has the same fields and keys in the same order.
namespace tim {
inline constexpr int kCompany = 1;
inline constexpr int kDutyDate = 2;  // runtime day number
inline constexpr int kShift = 3;
inline constexpr int kPunchTime = 4;
inline constexpr int kEmpCard = 5;
inline constexpr int kPunchLoc = 6;
inline constexpr int kPunchType = 7;
inline constexpr int kPunchTimeDec = 8;
inline constexpr int kOrigin = 9;
inline constexpr int kEmpNo = 10;
inline constexpr int kPunchDate = 11;
inline constexpr int kDept = 12;
inline constexpr int kOtherCode = 13;
inline constexpr int kJobNo = 14;
inline constexpr int kFunct = 15;

inline constexpr int kKeyCompDateCardPtime = 1;
inline constexpr int kKeyCompLocDateCardPtime = 2;
inline constexpr int kKeyCompCardDatePtime = 3;
inline constexpr int kKeyByCompCardPdatePtime = 4;
inline constexpr int kKeyByCompCardDdatePdatePtime = 5;
// Components: company, card, other code, duty date, punch date, punch time.
inline constexpr int kKeyByCompDutydOtherCodeEmpCardPdatePtime = 6;
inline constexpr int kKeyByCompEmpCardJobCodeDutydPdatePtime = 7;
}  // namespace tim

namespace htim {
inline constexpr int kCompany = 1;
inline constexpr int kDutyDate = 2;
inline constexpr int kPunchTime = 3;
inline constexpr int kEmpCard = 4;
inline constexpr int kPunchLoc = 5;
inline constexpr int kPunchType = 6;
inline constexpr int kPunchDate = 9;
}  // namespace htim

// OtherHrsTrx; HOtherTrx has the same fields in the same order.
namespace oht {
inline constexpr int kCompany = 1;
inline constexpr int kCardNo = 2;
inline constexpr int kCode = 3;
inline constexpr int kParentCode = 4;
inline constexpr int kDate = 5;
}  // namespace oht

namespace hos {
inline constexpr int kCompany = 1;
inline constexpr int kEmpCard = 2;
}  // namespace hos

namespace emp {
inline constexpr int kCompany = 1;
inline constexpr int kLastName = 2;
inline constexpr int kFirstName = 3;
inline constexpr int kCardNo = 9;
inline constexpr int kDept = 10;
inline constexpr int kPayType = 11;
inline constexpr int kScheduleCode = 39;
inline constexpr int kScheduleLevel = 40;
inline constexpr int kName = 44;
inline constexpr int kEmployeeNo = 45;
inline constexpr int kJobNo = 50;
}  // namespace emp

namespace empc {
inline constexpr int kCompany = 1;
inline constexpr int kCardNo = 2;
inline constexpr int kCode = 3;
}  // namespace empc

namespace pay {
inline constexpr int kCompany = 1;
inline constexpr int kCode = 2;
inline constexpr int kPayAs = 4;
inline constexpr int kMonitor = 5;
}  // namespace pay

namespace dep {
inline constexpr int kCompany = 1;
inline constexpr int kDept = 2;
inline constexpr int kHosPeriods = 10;
}  // namespace dep

namespace empa {
inline constexpr int kCompany = 1;
inline constexpr int kCardNo = 2;
inline constexpr int kParentCode = 5;
}  // namespace empa

}  // namespace app
