// The import while another program holds the database: it waits a bounded time and says so,
// then stops before it changes anything; rows it cannot store are never passed over in silence.
#include <gtest/gtest.h>

#include "import/ImportTestSupport.h"
#include "store/StoreTestHelpers.h"

namespace yubin::test {
namespace {

using Table = std::vector<std::vector<std::string>>;

class ForeignLockTest : public ImportFixture {
  protected:
    void TearDown() override {
        reader.reset();
        ImportFixture::TearDown();
    }
    void holdReadTransaction() {
        reader = std::make_unique<ForeignReader>(database);
        ASSERT_TRUE(reader->ready());
    }

    std::unique_ptr<ForeignReader> reader;
};

TEST_F(ForeignLockTest, FreshNationalImportStopsBeforeAppendingBesideTheOldRows) {
    const std::string ken = writeKen({
        KenLine("01101", "060  ", "0600000", "以下に掲載がない場合", "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲ"),
        KenLine("02201", "030  ", "0300000", "青森市", "ｱｵﾓﾘｼ", "0", "青森県", "青森市"),
    });
    run(ken, "");
    ASSERT_EQ(Rows(database, "SELECT RECNO FROM ZIPALL").size(), 2u);
    view = FakeImportView();

    holdReadTransaction();
    try {
        run(ken, "");
        ADD_FAILURE() << "the run went on";
    } catch (const YubinError& error) {
        EXPECT_EQ(error.code(), ErrorCode::LockedByOtherUser) << error.description();
    }
    EXPECT_NE(std::find(view.statusMessages.begin(), view.statusMessages.end(),
                        mdInport::kWaitingForOtherProgram),
              view.statusMessages.end());
    reader.reset();
    EXPECT_EQ(Rows(database, "SELECT RECNO FROM ZIPALL"), (Table{{"1"}, {"2"}}));
    EXPECT_EQ(Rows(database, "SELECT JISX0401 FROM 都道府県"), (Table{{"01"}, {"02"}}));
}

TEST_F(ForeignLockTest, RowsThatCannotBeStoredAreReportedByTheStatementsThatIgnoreErrors) {
    holdReadTransaction();
    ASSERT_TRUE(mdlYubinBox::OpenMdb(database));
    {
        db::Recordset rs;
        rs.open("ZIPALL", *mdlYubinBox::cnMdb, db::CursorType::Keyset, db::LockType::Pessimistic);
        rs.addNew(std::vector<std::string>{"RECNO"}, std::vector<db::Value>{db::Value(1)});
    }
    EXPECT_EQ(errorNumber([] { mdInport::ClearResumePoint(); }),
              errorOf(ErrorCode::LockedByOtherUser));
    reader.reset();
    mdlYubinBox::CloseMdb();  // the reader has gone: the row is stored
    EXPECT_EQ(Rows(database, "SELECT RECNO FROM ZIPALL"), (Table{{"1"}}));
}

}  // namespace
}  // namespace yubin::test
