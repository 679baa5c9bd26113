// The login gate on its own: the wrong-password limits per address and per
// user number, the pairs that logged in before, and the rank of a check.
#include <gtest/gtest.h>

#include "login_gate.h"

using qsrv::CLoginGate;
using qsrv::LoginLimits;
using qsrv::Refusal;

namespace {

const uint32_t kHome = 0x0A000001, kOther = 0x0A000002;
const int32_t kUser = 10001;

LoginLimits Limits() {
  LoginLimits l;
  l.addressFailLimit = 5;
  l.userFailLimit = 10;
  l.windowMs = 60000;
  return l;
}

}  // namespace

TEST(LoginGate, AnAddressIsBlockedAtItsFifthFailureUntilTheWindowEnds) {
  CLoginGate gate(Limits());
  for (int i = 0; i < 4; ++i) gate.NoteFailure(kOther, kUser, true, 1000);
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 1000, false));
  gate.NoteFailure(kOther, kUser, true, 1000);
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(kOther, kUser, 1000, false));
  // Blocked for every user from there, also one who is logged in there.
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(kOther, 20002, 1000, true));
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(kOther, kUser, 60999, false));
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 61000, false));
  EXPECT_EQ(Refusal::None, gate.Admit(kHome, kUser, 1000, false));
  // The next failure there opens a new window, counted from one again.
  for (int i = 0; i < 4; ++i) gate.NoteFailure(kOther, kUser, true, 70000);
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 70000, false));
  gate.NoteFailure(kOther, kUser, true, 70000);
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(kOther, kUser, 129999, false));
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 130000, false));
}

TEST(LoginGate, AUserIsBlockedAtHisTenthFailureExceptWhereHeLoggedInBefore) {
  CLoginGate gate(Limits());
  gate.NoteSuccess(kHome, kUser);
  // One failure from each of nine addresses: none of them reaches its own limit.
  for (uint32_t a = 1; a <= 9; ++a) gate.NoteFailure(0x0B000000 + a, kUser, true, 5000);
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 5000, false));
  gate.NoteFailure(0x0B00000A, kUser, true, 5000);
  EXPECT_EQ(Refusal::UserBlocked, gate.Admit(kOther, kUser, 5000, false));
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, 20002, 5000, false));
  // The owner where he logged in before, and wherever he holds a session now.
  EXPECT_EQ(Refusal::None, gate.Admit(kHome, kUser, 5000, false));
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 5000, true));
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 65000, false));
}

TEST(LoginGate, MadeUpUserNumbersCountForTheAddressOnly) {
  CLoginGate gate(Limits());
  for (uint32_t a = 1; a <= 12; ++a) gate.NoteFailure(0x0B000000 + a, kUser, false, 100);
  EXPECT_EQ(Refusal::None, gate.Admit(kOther, kUser, 100, false));
  EXPECT_EQ(1, gate.Rank(kOther, kUser, 100));
}

TEST(LoginGate, KnownPairsAreBoundedTheLeastRecentGoingFirst) {
  LoginLimits l = Limits();
  l.maxKnownPairs = 2;
  CLoginGate gate(l);
  gate.NoteSuccess(1, kUser);
  gate.NoteSuccess(2, kUser);
  gate.NoteSuccess(1, kUser);  // again: now the most recent
  gate.NoteSuccess(3, kUser);
  EXPECT_TRUE(gate.Known(1, kUser));
  EXPECT_FALSE(gate.Known(2, kUser));
  EXPECT_TRUE(gate.Known(3, kUser));
  EXPECT_FALSE(gate.Known(3, 20002));
  gate.NoteSuccess(4, kUser);  // a second time full: 1 is now the least recent
  EXPECT_FALSE(gate.Known(1, kUser));
  EXPECT_TRUE(gate.Known(3, kUser));
  EXPECT_TRUE(gate.Known(4, kUser));

  // A pair seen again is moved up, not listed a second time: with room for
  // three, 1 2 1 3 4 forgets 2 and nothing else.
  l.maxKnownPairs = 3;
  CLoginGate three(l);
  for (uint32_t a : {1, 2, 1, 3, 4}) three.NoteSuccess(a, kUser);
  EXPECT_TRUE(three.Known(1, kUser));
  EXPECT_FALSE(three.Known(2, kUser));
  EXPECT_TRUE(three.Known(3, kUser));
  EXPECT_TRUE(three.Known(4, kUser));

  l.maxKnownPairs = 0;
  CLoginGate none(l);
  none.NoteSuccess(1, kUser);
  EXPECT_FALSE(none.Known(1, kUser));
}

TEST(LoginGate, ChecksRankKnownThenCleanThenFailingUsersThenFailingAddresses) {
  CLoginGate gate(Limits());
  gate.NoteSuccess(kHome, kUser);
  EXPECT_EQ(0, gate.Rank(kHome, kUser, 0));
  EXPECT_EQ(1, gate.Rank(kOther, kUser, 0));
  gate.NoteFailure(0x0B000001, kUser, true, 0);
  EXPECT_EQ(2, gate.Rank(kOther, kUser, 0));
  EXPECT_EQ(0, gate.Rank(kHome, kUser, 0));
  gate.NoteFailure(kOther, 20002, false, 0);
  EXPECT_EQ(3, gate.Rank(kOther, kUser, 0));
  // A failure older than the window ranks as none.
  EXPECT_EQ(1, gate.Rank(kOther, kUser, 60000));
}

// A window is over when its length has gone by, to the millisecond, and its
// record goes then.
TEST(LoginGate, AWindowsRecordGoesWhenItsLengthHasGoneBy) {
  qsrv::CFailTable<uint32_t> t;
  t.Note(1, 1000, 60000, 10);
  t.Note(2, 1001, 60000, 10);
  EXPECT_EQ(1, t.Count(1, 60999, 60000));
  t.Expire(60999, 60000);
  EXPECT_EQ(2u, t.Size());
  EXPECT_EQ(0, t.Count(1, 61000, 60000));
  t.Expire(61000, 60000);
  EXPECT_EQ(1u, t.Size());
  t.Expire(61001, 60000);
  EXPECT_EQ(0u, t.Size());
  // A failure just as a window ends opens the next one, counted from one.
  t.Note(3, 70000, 60000, 10);
  t.Note(3, 70001, 60000, 10);
  t.Note(3, 130000, 60000, 10);
  EXPECT_EQ(1, t.Count(3, 130000, 60000));
}

TEST(LoginGate, TheFailureTablesAreBoundedTheOldestWindowGoingFirst) {
  LoginLimits l = Limits();
  l.maxFailRecords = 2;
  CLoginGate gate(l);
  for (int i = 0; i < 5; ++i) gate.NoteFailure(1, 0, false, 10);
  for (int i = 0; i < 5; ++i) gate.NoteFailure(2, 0, false, 20);
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(1, kUser, 30, false));
  gate.NoteFailure(3, 0, false, 30);
  EXPECT_EQ(Refusal::None, gate.Admit(1, kUser, 30, false));
  EXPECT_EQ(Refusal::AddressBlocked, gate.Admit(2, kUser, 30, false));
  EXPECT_EQ(3, gate.Rank(3, kUser, 30));
  // Room for one address: it is counted; for none: nobody is.
  l.maxFailRecords = 1;
  CLoginGate one(l);
  for (int i = 0; i < 5; ++i) one.NoteFailure(1, 0, false, 10);
  EXPECT_EQ(Refusal::AddressBlocked, one.Admit(1, kUser, 30, false));
  l.maxFailRecords = 0;
  CLoginGate none(l);
  for (int i = 0; i < 5; ++i) none.NoteFailure(1, 0, false, 10);
  EXPECT_EQ(Refusal::None, none.Admit(1, kUser, 30, false));
}

namespace {

// What the log says of each answer, and of a value no answer has.
TEST(LoginGate, EachAnswerHasItsOwnWords) {
  EXPECT_STREQ("accepted", qsrv::RefusalText(qsrv::Refusal::None));
  EXPECT_STREQ("too many wrong passwords", qsrv::RefusalText(qsrv::Refusal::AddressBlocked));
  EXPECT_STREQ("too many wrong passwords for this user", qsrv::RefusalText(qsrv::Refusal::UserBlocked));
  EXPECT_STREQ("unknown user or wrong password", qsrv::RefusalText(qsrv::Refusal::WrongPassword));
  EXPECT_STREQ("a password check is under way", qsrv::RefusalText(qsrv::Refusal::CheckUnderWay));
  EXPECT_STREQ("too many password checks waiting", qsrv::RefusalText(qsrv::Refusal::ChecksFull));
  EXPECT_STREQ("too many sessions", qsrv::RefusalText(qsrv::Refusal::TooManySessions));
  EXPECT_STREQ("the database cannot be reached", qsrv::RefusalText(qsrv::Refusal::NoDatabase));
  EXPECT_STREQ("refused", qsrv::RefusalText((qsrv::Refusal)99));
}

}  // namespace
