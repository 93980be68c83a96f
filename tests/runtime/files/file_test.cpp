// Per-thread file registration and the thread's copies of a declaration.
#include "runtime/files/file.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <thread>

#include "tests/support/declarations.h"

namespace {

rt::FileDeclaration* Build(void* where, const char* label) {
  return new (where) rt::FileDeclaration(
      "KEYED", label, "T", std::string("data\\") + label + ".DAT",
      {FieldDecl(rt::FieldType::Long, "T", "N")}, {}, 0x14);
}

TEST(ThreadFileRegistration, ADestroyedDeclarationTakesItsRegistrationWithIt) {
  alignas(rt::FileDeclaration) unsigned char storage[sizeof(rt::FileDeclaration)];
  rt::FileDeclaration* first = Build(storage, "First");
  rt::ThreadFile(*first);
  EXPECT_TRUE(rt::IsThreadFile(*first));
  first->~FileDeclaration();
  // A new declaration at the same address is not mistaken for the old one.
  rt::FileDeclaration* second = Build(storage, "Second");
  EXPECT_FALSE(rt::IsThreadFile(*second));
  second->~FileDeclaration();
}

TEST(ThreadFileRegistration, ForgetTakesTheRegistrationBack) {
  alignas(rt::FileDeclaration) unsigned char storage[sizeof(rt::FileDeclaration)];
  rt::FileDeclaration* decl = Build(storage, "Forgotten");
  rt::ThreadFile(*decl);
  rt::ForgetThreadFile(*decl);
  EXPECT_FALSE(rt::IsThreadFile(*decl));
  decl->~FileDeclaration();
}

TEST(ThreadFiles, EachThreadGetsItsOwnBufferAndDestroyOnlyDropsTheCallersCopy) {
  alignas(rt::FileDeclaration) unsigned char storage[sizeof(rt::FileDeclaration)];
  rt::FileDeclaration* decl = Build(storage, "Copies");
  rt::File& mine = rt::FileOf(*decl);
  mine.Field(1).SetInt(41);
  std::int64_t seenByOther = -1;
  std::thread([&] {
    seenByOther = rt::FileOf(*decl).Field(1).GetInt();
    rt::FileDestroy(*decl, 1);
  }).join();
  EXPECT_EQ(seenByOther, 0);
  EXPECT_TRUE(rt::FileExists(*decl));
  EXPECT_EQ(rt::FileOf(*decl).Field(1).GetInt(), 41);
  rt::FileDestroy(*decl, 1);
  EXPECT_FALSE(rt::FileExists(*decl));
  decl->~FileDeclaration();
}

}  // namespace
