// The one error type of yubinbox: a stable number and a description.
//
// The description is a message of the catalogue (Message.h): description() is its Japanese,
// what the windows show; the command line prints translatedDescription(), in its locale's
// language. A description made of text from elsewhere is shown as it is in both.
//
// Every layer (engine, store, readers, settings, engines) raises YubinError. The numbers follow
// the database engine's and the language run-time's numbering where one exists for the same
// fault, so that a number reported to a user means the same thing in every release. All
// numbers are listed here and nowhere else.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "base/Message.h"

namespace yubin {

enum class ErrorCode : int {
    // Run-time (file system) faults.
    FileNotFound = 53,       // a file that must exist does not
    FileAlreadyExists = 58,  // a file that must not exist does
    PermissionDenied = 70,   // the file system refused access
    PathFileAccess = 75,     // a file or folder could not be created, written, renamed or deleted
    PathNotFound = 76,       // a folder on the path does not exist

    // Database engine faults.
    InvalidArgument = 3001,       // an operation was given an argument it cannot use
    TableExists = 3010,           // CREATE TABLE of a table that exists
    NoCurrentRecord = 3021,       // a field was read or changed at the end of a row set
    DuplicateKey = 3022,          // a row would duplicate a primary-key value
    ReadOnly = 3027,              // the database, or a row set opened read-only, cannot be written
    DatabaseNotFound = 3024,      // connect: the database file is missing
    CannotOpenDatabase = 3051,    // connect: the file exists but cannot be opened
    FileInUse = 3045,             // the file is in use by another connection or program
    IndexNullValue = 3058,        // Null in a primary-key column
    SyntaxError = 3075,           // an SQL text the engine does not understand
    TableNotFound = 3078,         // a statement or row set names no table of the database
    BadFieldDefinition = 3190,    // CREATE TABLE with a field size outside 1..255
    DuplicateFieldName = 3191,    // a column named twice in one statement
    FieldTooSmall = 3163,         // text longer than its column
    DatabaseExists = 3204,        // create: the file exists
    LockedByOtherUser = 3260,     // another process holds the database (an import runs there)
    ItemNotFound = 3265,          // a column, field or property that does not exist
    NotOurDatabase = 3343,        // connect: the file is no database of this system
    PrimaryKeyExists = 3283,      // ADD CONSTRAINT PRIMARY KEY on a table that has one
    ValueCountMismatch = 3346,    // INSERT with more or fewer values than columns
    NumericOverflow = 3349,       // a number outside its column's range
    ConstraintNotFound = 3371,    // DROP INDEX / DROP CONSTRAINT of a name that is not there
    IndexExists = 3375,           // CREATE INDEX / ADD CONSTRAINT with a name in use
    ZeroLengthNotAllowed = 3315,  // the empty text in a column that does not allow it
    TypeMismatch = 3464,          // a value or literal of the wrong kind for its column
    ObjectClosed = 3704,          // a connection or row set used while it is not open
    EngineFailure = 3999,         // SQLite reported a fault of its own (disk full, I/O, ...)

    // Faults of the data files and settings (ours).
    BadInputLine = 20001,           // a data file line that cannot be read (too few fields, ...)
    BadEncoding = 20002,            // a data file line that is not valid code page 932
    BadSettingsValue = 20003,       // a settings key or value that would corrupt the file
    ImportAborted = 20004,          // the user aborted an import (resume marker written)
    DataFileChanged = 20005,        // a data file grew or shrank while it was imported
    BadArchive = 20006,             // a ZIP archive that is broken or holds no single data file
    ArchiveSupportMissing = 20007,  // the ZIP library cannot be loaded

    // Publishing the database to a PostgreSQL server (src/publish).
    PublishConnectionString = 20101,  // a connection string libpq cannot read
    PublishLoginRefused = 20102,      // the server answered and refused the login
    PublishUnreachable = 20103,       // no server answered at the address
    PublishNoRights = 20104,          // the role may not create or replace the schema
    PublishBusy = 20105,              // another publish, or readers, held the schema too long
    PublishServerFault = 20106,       // any other fault the server reported, or a lost connection
    PublishUnfinishedImport = 20107,  // the file holds an interrupted or failed import
    PublishForeignSchema = 20108,     // a schema of that name that no publish made
    PublishClientMissing = 20109,     // the PostgreSQL client library cannot be loaded
};

class YubinError : public std::runtime_error {
  public:
    YubinError(ErrorCode code, const std::string& description)
        : YubinError(code, Message::Verbatim(description)) {}
    YubinError(ErrorCode code, const char* description)
        : YubinError(code, Message::Verbatim(description)) {}
    // A description of the catalogue: shown in the command line's language (Translation.h).
    YubinError(ErrorCode code, const Message& description)
        : std::runtime_error(description.japanese()),
          code_(code),
          detail_(what()),
          message_(description) {}

    // A fault of one line of a data file: the file's name and the line number are fields; the
    // description shown is composed from them.
    YubinError(ErrorCode code, const Message& detail, std::string file, long line)
        : std::runtime_error(DataLine(file, line, detail).japanese()),
          code_(code),
          detail_(detail.japanese()),
          message_(detail),
          file_(std::move(file)),
          line_(line),
          placed_(true) {}
    YubinError(ErrorCode code, const std::string& detail, std::string file, long line)
        : YubinError(code, Message::Verbatim(detail), std::move(file), line) {}

    ErrorCode code() const noexcept { return code_; }
    int number() const noexcept { return static_cast<int>(code_); }
    // What the user is shown: for a data line, "ファイル <file> の <line> 行目: <detail>".
    std::string description() const { return what(); }
    // The description in the command line's language (Japanese until it chooses another).
    std::string translatedDescription() const {
        return placed_ ? DataLine(file_, line_, message_).translated() : message_.translated();
    }
    // The description without the data line's place.
    const std::string& detail() const noexcept { return detail_; }
    // The same as a message of the catalogue.
    const Message& detailMessage() const noexcept { return message_; }
    // The data file and line at fault; "" and 0 for every other error.
    const std::string& file() const noexcept { return file_; }
    long line() const noexcept { return line_; }
    bool isDataLineError() const noexcept { return line_ > 0; }

  private:
    static Message DataLine(const std::string& file, long line, const Message& detail) {
        return Message("ファイル {1} の {2} 行目: {3}", file, line, detail);
    }

    ErrorCode code_;
    std::string detail_;
    Message message_;
    std::string file_;
    long line_ = 0;
    bool placed_ = false;  // a data line's error: the description names the file and line
};

}  // namespace yubin
