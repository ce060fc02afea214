#pragma once

#include <QLatin1String>
#include <QStringList>

#include <tuple>
#include <type_traits>

// Records and requests are flat lists of strings on the wire. Each one is declared once, as a struct
// whose members are listed in wire order by WIRE_FIELDS; encoding, decoding and the field count follow
// from that list. A member is a QString (one field) or another record (its fields, in place).
namespace Wire {

template <class T, class = void> struct IsRecord : std::false_type {
};
template <class T> struct IsRecord<T, std::void_t<decltype(std::declval<const T&>().tie())>> : std::true_type {
};

template <class T> constexpr int widthOf();

template <class Tuple, std::size_t... I> constexpr int sumOfWidths(std::index_sequence<I...>)
{
    return (0 + ... + widthOf<std::remove_const_t<std::remove_reference_t<std::tuple_element_t<I, Tuple>>>>());
}

// How many strings a member takes on the wire.
template <class T> constexpr int widthOf()
{
    if constexpr (IsRecord<T>::value) {
        using Tuple = decltype(std::declval<const T&>().tie());
        return sumOfWidths<Tuple>(std::make_index_sequence<std::tuple_size_v<Tuple>>{});
    } else {
        static_assert(std::is_same_v<T, QString>, "a wire member is a QString or a record");
        return 1;
    }
}

inline void appendFields(QStringList& out, const QString& value)
{
    out.append(value);
}

template <class T, std::enable_if_t<IsRecord<T>::value, int> = 0> void appendFields(QStringList& out, const T& record)
{
    std::apply([&](const auto&... member) { (appendFields(out, member), ...); }, record.tie());
}

inline void takeFields(const QStringList& in, int& pos, QString& value)
{
    value = in.value(pos++);
}

template <class T, std::enable_if_t<IsRecord<T>::value, int> = 0>
void takeFields(const QStringList& in, int& pos, T& record)
{
    std::apply([&](auto&... member) { (takeFields(in, pos, member), ...); }, record.tie());
}

// The strings of a record or request, in wire order.
template <class T> QStringList fieldsOf(const T& record)
{
    QStringList out;
    out.reserve(widthOf<T>());
    appendFields(out, record);
    return out;
}

// A record or request rebuilt from its strings; missing strings are empty, extra ones are ignored.
template <class T> T fromFields(const QStringList& fields)
{
    T record{};
    int pos = 0;
    takeFields(fields, pos, record);
    return record;
}

} // namespace Wire

namespace Wire {

// Optional fields that only our client sends after a request's documented fields (and before the
// session token): a request lists them with WIRE_EXTENSIONS. A request whose extra fields carry no
// token (the login) says so with `static constexpr bool TakesToken = false;`.
template <class T, class = void> struct ExtensionCount {
    static constexpr int value = 0;
};
template <class T> struct ExtensionCount<T, std::void_t<decltype(std::declval<const T&>().extensionTie())>> {
    static constexpr int value = int(std::tuple_size_v<decltype(std::declval<const T&>().extensionTie())>);
};
template <class T, class = void> struct TokenTaken : std::true_type {
};
template <class T> struct TokenTaken<T, std::void_t<decltype(T::TakesToken)>> : std::bool_constant<T::TakesToken> {
};

// The extension fields of a request in order, without the empty ones at the end: a peer that gives
// fewer extension fields means the rest are empty.
template <class T> QStringList extensionsOf(const T& request)
{
    QStringList out;
    if constexpr (ExtensionCount<T>::value > 0)
        std::apply([&](const auto&... member) { (out.append(member), ...); }, request.extensionTie());
    while (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

template <class T> void takeExtensions(const QStringList& in, T& request)
{
    if constexpr (ExtensionCount<T>::value > 0) {
        int pos = 0;
        std::apply([&](auto&... member) { ((member = in.value(pos++)), ...); }, request.extensionTie());
    }
}

} // namespace Wire

#define WIRE_EXTENSIONS(...)                                                                                           \
    auto extensionTie()                                                                                                \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }                                                                                                                  \
    auto extensionTie() const                                                                                          \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }

// Lists the members of a record or request in wire order, and gives it fields() and from().
#define WIRE_FIELDS(Type, ...)                                                                                         \
    auto tie()                                                                                                         \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }                                                                                                                  \
    auto tie() const                                                                                                   \
    {                                                                                                                  \
        return std::tie(__VA_ARGS__);                                                                                  \
    }                                                                                                                  \
    QStringList fields() const                                                                                         \
    {                                                                                                                  \
        return Wire::fieldsOf(*this);                                                                                  \
    }                                                                                                                  \
    static Type from(const QStringList& f)                                                                             \
    {                                                                                                                  \
        return Wire::fromFields<Type>(f);                                                                              \
    }

// The book record: a search result frame, the result list's columns, and the body of the borrow and
// delete requests. The state "空闲" means the copy is on the shelf.
struct BookRecord {
    static constexpr int Size = 8;
    QString name, author, type, press, year, number, state, permission;
    WIRE_FIELDS(BookRecord, name, author, type, press, year, number, state, permission)
};

// The account record sent after "PASS". The password is the one the user typed, never a stored one.
struct AccountRecord {
    static constexpr int Size = 8;
    QString id, name, permission, password, studentNumber, phoneNumber, email, userInfo;
    WIRE_FIELDS(AccountRecord, id, name, permission, password, studentNumber, phoneNumber, email, userInfo)
};

// A row of the user lists: level as the English name.
struct UserRecord {
    static constexpr int Size = 6;
    QString id, name, studentNumber, phoneNumber, email, permission;
    WIRE_FIELDS(UserRecord, id, name, studentNumber, phoneNumber, email, permission)
};

// A row of the borrowed-books list, and the body of the return request.
struct LoanRecord {
    static constexpr int Size = 7;
    QString name, author, type, press, year, number, borrowedAt;
    WIRE_FIELDS(LoanRecord, name, author, type, press, year, number, borrowedAt)
};

// A row of "QUERY_USER_LOANS": the borrowed-book row, then when it falls due, how often it was renewed
// and how many renewals are left.
struct UserLoanRecord {
    static constexpr int Size = 10;
    LoanRecord loan;
    QString dueAt, renewals, renewalsLeft;
    WIRE_FIELDS(UserLoanRecord, loan, dueAt, renewals, renewalsLeft)
};

// A row of "QUERY_OVERDUE_LOANS", most overdue first.
struct OverdueLoanRecord {
    static constexpr int Size = 8;
    QString number, title, userId, name, phoneNumber, email, dueAt, daysOverdue;
    WIRE_FIELDS(OverdueLoanRecord, number, title, userId, name, phoneNumber, email, dueAt, daysOverdue)
};

// A row of "QUERY_USER_HOLDS": the reader's place in the copy's queue, and the pick-up deadline once
// the copy is kept for the reader (empty while it is still out).
struct HoldRecord {
    static constexpr int Size = 5;
    QString number, title, place, state, deadline;
    WIRE_FIELDS(HoldRecord, number, title, place, state, deadline)
};

// What a check-in at the desk answers after "RETURN_BOOK_SUCCESSFULLY": whose loan ended, how late it
// was, and who the copy is now kept for (empty when nobody waits).
struct CheckinRecord {
    static constexpr int Size = 5;
    QString userId, name, daysOverdue, nextHolder, nextHolderName;
    WIRE_FIELDS(CheckinRecord, userId, name, daysOverdue, nextHolder, nextHolderName)
};

// A row of "QUERY_AUDIT_LOG", newest first.
struct AuditRecord {
    static constexpr int Size = 7;
    QString at, actor, peer, action, userId, number, detail;
    WIRE_FIELDS(AuditRecord, at, actor, peer, action, userId, number, detail)
};

// A row of "QUERY_NOTICES": the notice, when it was queued (server's local time), its kind, the reader,
// the reader's e-mail (empty: a letter), its state and the last error of a failing one.
struct NoticeRecord {
    static constexpr int Size = 8;
    QString id, queuedAt, kind, userId, name, email, state, lastError;
    WIRE_FIELDS(NoticeRecord, id, queuedAt, kind, userId, name, email, state, lastError)
};

// A row of "QUERY_USER_DETAILS": the user row, then when the account registered (server's local time)
// and from which address.
struct UserDetailRecord {
    static constexpr int Size = 9;
    UserRecord user;
    QString registeredAt, registeredFrom, notes;
    WIRE_FIELDS(UserDetailRecord, user, registeredAt, registeredFrom, notes)
};

// A row of "QUERY_CATALOGUE_LOOKUP": a record another library's catalogue holds, and which target
// answered ("host:port/database" or the SRU address).
struct CatalogueRecord {
    static constexpr int Size = 7;
    QString title, author, type, press, year, isbn, target;
    WIRE_FIELDS(CatalogueRecord, title, author, type, press, year, isbn, target)
};

// A row of "QUERY_INVENTORY_LIST", newest first: the stocktake, the part of the collection it counts,
// when it began (server's local time) and how many copies were scanned.
struct InventoryRecord {
    static constexpr int Size = 6;
    QString id, name, type, numberPrefix, startedAt, scanned;
    WIRE_FIELDS(InventoryRecord, id, name, type, numberPrefix, startedAt, scanned)
};

// A row of "QUERY_INVENTORY_REPORT": a copy (or a scanned number) that needs staff, its state now,
// when it was last seen (server's local time, empty: never) and the finding.
struct InventoryFindingRecord {
    static constexpr int Size = 5;
    QString number, title, state, lastSeen, finding;
    WIRE_FIELDS(InventoryFindingRecord, number, title, state, lastSeen, finding)
};

static_assert(Wire::widthOf<BookRecord>() == BookRecord::Size);
static_assert(Wire::widthOf<CatalogueRecord>() == CatalogueRecord::Size);
static_assert(Wire::widthOf<InventoryRecord>() == InventoryRecord::Size);
static_assert(Wire::widthOf<InventoryFindingRecord>() == InventoryFindingRecord::Size);
static_assert(Wire::widthOf<UserDetailRecord>() == UserDetailRecord::Size);
static_assert(Wire::widthOf<AccountRecord>() == AccountRecord::Size);
static_assert(Wire::widthOf<UserRecord>() == UserRecord::Size);
static_assert(Wire::widthOf<LoanRecord>() == LoanRecord::Size);
static_assert(Wire::widthOf<UserLoanRecord>() == UserLoanRecord::Size);
static_assert(Wire::widthOf<OverdueLoanRecord>() == OverdueLoanRecord::Size);
static_assert(Wire::widthOf<HoldRecord>() == HoldRecord::Size);
static_assert(Wire::widthOf<CheckinRecord>() == CheckinRecord::Size);
static_assert(Wire::widthOf<AuditRecord>() == AuditRecord::Size);
