// The schema of the postal database as CreateMdb makes it, in the order it makes it: the Jet
// SQL texts, then the column and table properties set after them. Header-only, so that the
// parser's tests read the very texts without a database.
#pragma once

namespace yubin::mdlYubinBox {

// The seven statements that make the schema, in their order.
inline constexpr const char* kSchemaStatements[] = {
    "CREATE TABLE DUMMY ( DKEY Text(1) )",
    "INSERT INTO DUMMY VALUES('1')",
    "CREATE TABLE 作成日 ("
    "ZIPALL TEXT(10),"
    "JIGYOSYO TEXT(10)"
    ")",
    "CREATE TABLE 都道府県 ( "
    "JISX0401 Text(2),"
    "都道府県名 Text(255),"
    "住所かな1 text(255)"
    ")",
    "CREATE TABLE 市町村 ( "
    "JISX0402 Text(5),"
    "市町村名 Text(255),"
    "住所かな2 Text(255),"
    "抹消FLAG Byte"
    ")",
    "CREATE TABLE ZIPALL ("
    "団体コード Text(5),"
    "旧郵便番号 Text(5),"
    "郵便番号 Text(7),"
    "住所かな3 Memo,"
    "町域名 Memo,"
    "flag1 Byte,"
    "flag2 Byte,"
    "flag3 Byte,"
    "ダブり Byte,"
    "flag4 Byte,"
    "flag5 Byte,"
    "事業所名かな Text(255),"
    "事業所名 Text(255),"
    "取扱郵便局 Text(50),"
    "種別 Text(1),"
    "丁目番地等 Text(255),"
    "データ識別 Text(1),"
    "RECNO Long"
    ")",
    "CREATE TABLE 登録中 ("
    "RECNO LONG )",
};

// The ZIPALL columns that accept the empty text, in the order they are set.
inline constexpr const char* kZeroLengthColumns[] = {
    "旧郵便番号", "住所かな3", "町域名",     "事業所名かな", "事業所名",
    "取扱郵便局", "種別",      "丁目番地等", "データ識別",
};

// The tables marked hidden, in the order they are marked.
inline constexpr const char* kHiddenTables[] = {"DUMMY", "ZIPALL", "都道府県", "市町村", "作成日"};

}  // namespace yubin::mdlYubinBox
