#include "editreaderdialog.h"
#include "usermanagedialog.h"
#include "refusals.h"
#include "windowtesting.h"

using namespace WindowTesting;

// User management: the two listings, delete, raise and lower, and how a row operation stays tied to
// its own row while the list changes under it.
class TestUserManage : public QObject, private ClientFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { tearDown(); }

    void dialogLayout();
    void listing_data();
    void listing();
    void listingClearsTheListAtOnce();
    void failedListingEndsWithItsErrorAlone();
    void startingOneListingDropsTheOther();
    void searchTextTooLargeForAFrame();

    void deleteSendsUserId_data();
    void deleteSendsUserId();
    void superAdminIsNeverDeleted();
    void nothingSentWithoutCurrentRow_data();
    void nothingSentWithoutCurrentRow();
    void levelChange_data();
    void levelChange();
    void staffCorrectRecords_data();
    void staffCorrectRecords();

    void secondRowOperationRefusedWhilePending();
    void rowOperationRecoversAfterRefusedConnection();
    void listingStartedWhileRaisePending();
    void deleteAnsweredAfterListCleared();

private:
    UserManageDialog* openDialog();
    QTreeWidget* list() const;
    QTreeWidgetItem* addRow(const QString& id, const QString& shownLevel);
    void press(const char* button) const { WindowTesting::press(dialog, button); }
    // Presses a button with hostIP.txt naming the given server, for tests that give each operation
    // a server of its own.
    void pressWith(const ScriptedServer& server, const char* button) const
    {
        server.writeAddressFile();
        press(button);
    }

    UserManageDialog* dialog = nullptr;
};

void TestUserManage::init()
{
    setUp(DialogParent);
    dialog = openDialog();
}

UserManageDialog* TestUserManage::openDialog()
{
    return new UserManageDialog(dialogParent.get());
}

QTreeWidget* TestUserManage::list() const
{
    return dialog->findChild<QTreeWidget*>("userList");
}

QTreeWidgetItem* TestUserManage::addRow(const QString& id, const QString& shownLevel)
{
    auto* item = new QTreeWidgetItem(QStringList{id, id + " name", "2020", "138", id + "@x.org", shownLevel});
    list()->addTopLevelItem(item);
    return item;
}

void TestUserManage::dialogLayout()
{
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QString("User Manage"));
    QVERIFY(dialog->testAttribute(Qt::WA_ShowModal));
    QTreeWidget* userList = list();
    QVERIFY(userList->isVisible());

    MainWindow mainWindow;
    mainWindow.findChild<QAction*>("actionUserManage")->trigger();
    QCOMPARE(mainWindow.findChildren<UserManageDialog*>().size(), 1);
}

void TestUserManage::listing_data()
{
    QTest::addColumn<bool>("unconfirmed");
    QTest::addColumn<QList<QStringList>>("frames");
    QTest::addColumn<QStringList>("shownLevels");
    QTest::addColumn<QString>("countBox");

    const QStringList ann{"ann", "Ann", "2020001", "138", "ann@x", "Undergraduate"};
    const QStringList ben{"ben", "Ben", "2020002", "139", "ben@x", "Super Admin"};
    const QStringList cat{"cat", "Cat", "2020003", "137", "cat@x", "nobody knows"};
    QTest::newRow("search, nothing found")
        << false << QList<QStringList>{} << QStringList{} << "Searching completes|Find 0 results";
    // No singular form.
    QTest::newRow("search, one account") << false << QList<QStringList>{ann} << QStringList{"本科生"}
                                         << "Searching completes|Find 1 results";
    QTest::newRow("search, three accounts, unknown level shown as Guest")
        << false << QList<QStringList>{ann, ben, cat} << QStringList{"本科生", "超级管理员", "Guest"}
        << "Searching completes|Find 3 results";
    QTest::newRow("search, a row of the wrong shape is skipped")
        << false << QList<QStringList>{ann, {"short", "row"}, ben} << QStringList{"本科生", "超级管理员"}
        << "Searching completes|Find 2 results";
    QTest::newRow("unconfirmed, nothing")
        << true << QList<QStringList>{} << QStringList{} << "Searching completes|Find 0 results";
    QTest::newRow("unconfirmed, two") << true << QList<QStringList>{cat, ann} << QStringList{"Guest", "本科生"}
                                      << "Searching completes|Find 2 results";
}

void TestUserManage::listing()
{
    QFETCH(bool, unconfirmed);
    QFETCH(QList<QStringList>, frames);
    QFETCH(QStringList, shownLevels);
    QFETCH(QString, countBox);
    Exchange exchange;
    exchange.server.addFrames(frames);

    dialog->findChild<QLineEdit*>("userEdit")->setText(" a n ");
    press(unconfirmed ? "unconfirmButton" : "searchButton");
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{countBox});

    // The search text goes out untrimmed; the unconfirmed listing has none, and then asks how many
    // accounts wait.
    const QList<QStringList> requests = unconfirmed
        ? QList<QStringList>{{"QUERY_USER_DETAILS", "", "unconfirmed"}, {"QUERY_REGISTRATION_STATE"}}
        : QList<QStringList>{{"QUERY_USER_DETAILS", " a n ", ""}};
    QTRY_COMPARE(exchange.server.requests(), requests);
    QCOMPARE(columnTexts(list(), 5), shownLevels);
    if (!frames.isEmpty()) {
        QTreeWidgetItem* first = list()->topLevelItem(0);
        for (int c = 0; c < 5; ++c)
            QCOMPARE(first->text(c), frames.first().value(c));
    }
}

void TestUserManage::listingClearsTheListAtOnce()
{
    Exchange exchange;
    exchange.server.addSilence();
    addRow("old", "VIP");
    press("searchButton");
    QCOMPARE(list()->topLevelItemCount(), 0);
}

void TestUserManage::failedListingEndsWithItsErrorAlone()
{
    writeRefusedAddress();
    Recorders watch;
    addRow("old", "VIP");
    press("unconfirmButton");
    QTRY_COMPARE(watch.boxes.seen(), QStringList{refusedBox});
    QTest::qWait(100);
    QCOMPARE(watch.boxes.seen(), QStringList{refusedBox});
}

void TestUserManage::startingOneListingDropsTheOther()
{
    ScriptedServer searchServer;
    ScriptedServer unconfirmServer;
    // The search's rows would trickle in after the unconfirmed listing has started.
    searchServer.addReply({frameOf({"s1", "S", "1", "1", "s@x", "VIP"}),
                           frameOf({"s2", "S", "1", "1", "s@x", "VIP"}) + Wire::endOfStreamFrame()});
    unconfirmServer.addFrames({{"u1", "U", "2", "2", "u@x", "Guest"}});
    Recorders watch;

    pressWith(searchServer, "searchButton");
    pressWith(unconfirmServer, "unconfirmButton");
    QTRY_COMPARE(watch.boxes.seen(), QStringList{"Searching completes|Find 1 results"});
    QCOMPARE(columnTexts(list(), 0), QStringList{"u1"});
}

void TestUserManage::searchTextTooLargeForAFrame()
{
    Exchange exchange;
    // The longest text a line edit takes does not fit in a frame after the query code.
    auto* userEdit = dialog->findChild<QLineEdit*>("userEdit");
    userEdit->setText(QString(userEdit->maxLength(), QLatin1Char('u')));
    press("searchButton");
    QTRY_COMPARE(exchange.boxes.seen(),
                 (QStringList{"Error!|Request too large to send!", "Searching completes|Find 0 results"}));
    QCOMPARE(exchange.server.requests().size(), 0);
}

void TestUserManage::deleteSendsUserId_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("rowsAfter");
    QTest::newRow("deleted") << "DELETE_USER_SUCCESSFULLY" << QStringList{"PASS|Delete the user successfully!"}
                             << QStringList{"ann", "cat"};
    QTest::newRow("refused") << "DELETE_USER_FAIL"
                             << QStringList{"Error!|" + QStringLiteral("服务器拒绝了请求（DELETE_USER_FAIL）。")}
                             << QStringList{"ann", "ben", "cat"};
}

void TestUserManage::deleteSendsUserId()
{
    QFETCH(QString, word);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, rowsAfter);
    Exchange exchange;
    exchange.server.addFrames({{word}});

    addRow("ann", "VIP");
    QTreeWidgetItem* ben = addRow("ben", "管理员");
    addRow("cat", "Guest");
    list()->setCurrentItem(ben);
    press("deleteButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests(), (QList<QStringList>{{"QUERY_DELETE_USER", "ben"}}));
    QCOMPARE(exchange.boxes.seen(), boxes);
    QCOMPARE(columnTexts(list(), 0), rowsAfter);
}

void TestUserManage::superAdminIsNeverDeleted()
{
    Exchange exchange;
    exchange.server.addFrames({{"DELETE_USER_SUCCESSFULLY"}});

    QTreeWidgetItem* root = addRow("root", "超级管理员");
    QTreeWidgetItem* ann = addRow("ann", "VIP");
    list()->setCurrentItem(root);
    press("deleteButton");
    QCOMPARE(exchange.boxes.seen(), QStringList{}); // no message either
    QVERIFY(dialog->findChild<QPushButton*>("escalateButton")->isEnabled());

    // The next delete is the server's first and only request.
    list()->setCurrentItem(ann);
    press("deleteButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests(), (QList<QStringList>{{"QUERY_DELETE_USER", "ann"}}));
    QCOMPARE(exchange.server.connectionCount(), 1);
    QCOMPARE(columnTexts(list(), 0), QStringList{"root"});
}

void TestUserManage::nothingSentWithoutCurrentRow_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("delete") << "deleteButton";
    QTest::newRow("raise") << "escalateButton";
    QTest::newRow("lower") << "degradeButton";
}

void TestUserManage::nothingSentWithoutCurrentRow()
{
    QFETCH(QString, button);
    Exchange exchange;
    exchange.server.addFrames({{"DEGRADE_USER_SUCCESSFULLY"}});

    addRow("ann", "VIP");
    list()->setCurrentItem(nullptr);
    press(button.toLatin1().constData());
    QVERIFY(dialog->findChild<QPushButton*>("deleteButton")->isEnabled());

    list()->setCurrentItem(list()->topLevelItem(0));
    press("degradeButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    QCOMPARE(exchange.server.requests(), (QList<QStringList>{{"QUERY_DEGRADE_USER", "ann", "VIP"}}));
    QCOMPARE(exchange.server.connectionCount(), 1);
}

void TestUserManage::levelChange_data()
{
    QTest::addColumn<bool>("raise");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    const struct {
        const char* shown;
        const char* raised;
        const char* lowered;
    } table[] = {
        {"Guest", "本科生", "Guest"},  {"本科生", "研究生", "Guest"},        {"研究生", "VIP", "本科生"},
        {"VIP", "管理员", "研究生"},   {"管理员", "管理员", "VIP"},          {"超级管理员", "超级管理员", "超级管理员"},
        {"Reader", "本科生", "Guest"}, {"Undergraduate", "本科生", "Guest"}, // an English name in the column reads as
                                                                             // Guest too
    };
    for (const auto& row : table) {
        QTest::addRow("raise %s", row.shown) << true << QString::fromUtf8(row.shown) << QString::fromUtf8(row.raised);
        QTest::addRow("lower %s", row.shown) << false << QString::fromUtf8(row.shown) << QString::fromUtf8(row.lowered);
    }
}

void TestUserManage::levelChange()
{
    QFETCH(bool, raise);
    QFETCH(QString, before);
    QFETCH(QString, after);
    Exchange exchange;
    exchange.server.addFrames({{raise ? "ESCALATE_USER_SUCCESSFULLY" : "DEGRADE_USER_SUCCESSFULLY"}});

    addRow("ann", "VIP");
    QTreeWidgetItem* target = addRow("u9", before);
    list()->setCurrentItem(target);
    press(raise ? "escalateButton" : "degradeButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);

    // The level goes out as displayed, and the new one is worked out from it on this side.
    QCOMPARE(exchange.server.requests(),
             (QList<QStringList>{{raise ? "QUERY_ESCALATE_USER" : "QUERY_DEGRADE_USER", "u9", before}}));
    QCOMPARE(exchange.boxes.seen(),
             QStringList{raise ? "PASS|Escalate the user successfully!" : "PASS|Degrade the user successfully!"});
    QCOMPARE(target->text(5), after);
    QCOMPARE(list()->topLevelItem(0)->text(5), QString("VIP"));
}

// Editing a reader, a one-time password, and several Guests confirmed with one press: what goes out,
// what the staff member is told, what the rows show afterwards.
void TestUserManage::staffCorrectRecords_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<QStringList>>("replies");
    QTest::addColumn<QList<QStringList>>("requests");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QStringList>("levels"); // of the three rows afterwards
    const QStringList untouched{"VIP", "Guest", "Guest"};
    QTest::newRow("edit") << "editButton" << QList<QStringList>{{"EDIT_USER_SUCCESSFULLY"}}
                          << QList<QStringList>{{"QUERY_EDIT_USER", "g1", "Gee One", "2020", "138", "g1@x.org",
                                                 "likes maps"}}
                          << "PASS|读者资料已保存。" << untouched;
    QTest::newRow("edit refused") << "editButton" << QList<QStringList>{{"SUPER_ADMIN_REQUIRED"}}
                                  << QList<QStringList>{{"QUERY_EDIT_USER", "g1", "Gee One", "2020", "138", "g1@x.org",
                                                         "likes maps"}}
                                  << "Error!|" + Refusals::message("SUPER_ADMIN_REQUIRED") << untouched;
    QTest::newRow("reset password") << "resetPasswordButton"
                                    << QList<QStringList>{{"RESET_PASSWORD_SUCCESSFULLY", "Kq7-Wz2"}}
                                    << QList<QStringList>{{"QUERY_RESET_PASSWORD", "g1"}}
                                    << "PASS|一次性密码：Kq7-Wz2\n请交给读者；下次登录时必须设置新密码。" << untouched;
    QTest::newRow("confirm the selected Guests")
        << "confirmSelectedButton" << QList<QStringList>{{"ESCALATE_USER_SUCCESSFULLY"}, {"ESCALATE_USER_SUCCESSFULLY"}}
        << QList<QStringList>{{"QUERY_ESCALATE_USER", "g1", "Guest"}, {"QUERY_ESCALATE_USER", "g2", "Guest"}}
        << "PASS|已审核 2 个账号。" << QStringList{"VIP", "本科生", "本科生"};
    QTest::newRow("confirming stops at a refusal") << "confirmSelectedButton" << QList<QStringList>{{"NO_SUCH_USER"}}
                                                   << QList<QStringList>{{"QUERY_ESCALATE_USER", "g1", "Guest"}}
                                                   << "Error!|" + Refusals::message("NO_SUCH_USER") << untouched;
}

void TestUserManage::staffCorrectRecords()
{
    QFETCH(QString, button);
    QFETCH(QList<QStringList>, replies);
    QFETCH(QList<QStringList>, requests);
    QFETCH(QString, box);
    QFETCH(QStringList, levels);
    Exchange exchange;
    for (const QStringList& reply : replies)
        exchange.server.addFrames({reply});
    const QList<QTreeWidgetItem*> rows{addRow("ann", "VIP"), addRow("g1", "Guest"), addRow("g2", "Guest")};
    rows[1]->setText(8, "likes maps");
    list()->setCurrentItem(rows[1]);
    for (QTreeWidgetItem* row : rows)
        row->setSelected(true);
    // The edit form is modal: it is filled in and saved once it shows.
    QTimer::singleShot(0, this, [&] {
        QTRY_VERIFY(dialog->findChild<EditReaderDialog*>() || button != "editButton");
        if (auto* form = dialog->findChild<EditReaderDialog*>()) {
            form->nameEdit->setText("Gee One");
            form->accept();
        }
    });
    press(button.toLatin1().constData());
    QTRY_COMPARE(exchange.boxes.seen(), QStringList{box});
    QCOMPARE(exchange.server.requests(), requests);
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows[i]->text(5), levels[i]);
    if (button == "editButton" && box.startsWith("PASS"))
        QCOMPARE(rows[1]->text(1), QStringLiteral("Gee One"));
}

void TestUserManage::secondRowOperationRefusedWhilePending()
{
    Exchange exchange;
    exchange.server.addFrames({{"ESCALATE_USER_SUCCESSFULLY"}});
    exchange.server.addFrames({{"DEGRADE_USER_SUCCESSFULLY"}});

    QTreeWidgetItem* ann = addRow("ann", "研究生");
    QTreeWidgetItem* ben = addRow("ben", "VIP");
    list()->setCurrentItem(ann);
    press("escalateButton");
    for (const char* name : {"deleteButton", "escalateButton", "degradeButton"})
        QVERIFY2(!dialog->findChild<QPushButton*>(name)->isEnabled(), name);
    // Another row is chosen and a second operation asked for, even past the disabled buttons.
    list()->setCurrentItem(ben);
    QMetaObject::invokeMethod(dialog, "degradeUser");
    QMetaObject::invokeMethod(dialog, "deleteUser");

    QTRY_COMPARE(exchange.traces.count("Receive End"), 1);
    // The raise acted on the row it was sent for, not on the current one.
    QCOMPARE(ann->text(5), QString("VIP"));
    QCOMPARE(ben->text(5), QString("VIP"));
    QVERIFY(dialog->findChild<QPushButton*>("degradeButton")->isEnabled());

    // Once answered, the next operation goes through; nothing else was sent in between.
    press("degradeButton");
    QTRY_COMPARE(exchange.traces.count("Receive End"), 2);
    QCOMPARE(exchange.server.requests(),
             (QList<QStringList>{{"QUERY_ESCALATE_USER", "ann", "研究生"}, {"QUERY_DEGRADE_USER", "ben", "VIP"}}));
    QCOMPARE(exchange.server.connectionCount(), 2);
    QCOMPARE(ben->text(5), QString("研究生"));
}

void TestUserManage::rowOperationRecoversAfterRefusedConnection()
{
    writeRefusedAddress();
    Recorders watch;
    QTreeWidgetItem* ann = addRow("ann", "VIP");
    list()->setCurrentItem(ann);
    press("escalateButton");
    QTRY_COMPARE(watch.boxes.seen(), QStringList{refusedBox});
    QCOMPARE(ann->text(5), QString("VIP"));
    QVERIFY(dialog->findChild<QPushButton*>("escalateButton")->isEnabled());
}

void TestUserManage::listingStartedWhileRaisePending()
{
    // Two servers, so that each operation gets its own answer whatever order they arrive in.
    ScriptedServer raiseServer;
    ScriptedServer searchServer;
    raiseServer.addFrames({{"ESCALATE_USER_SUCCESSFULLY"}});
    searchServer.addFrames({{"ann", "Ann", "1", "1", "a@x", "Undergraduate"}, {"ben", "Ben", "2", "2", "b@x", "VIP"}});
    Recorders watch;

    QTreeWidgetItem* ann = addRow("ann", "本科生");
    list()->setCurrentItem(ann);
    pressWith(raiseServer, "escalateButton");
    pressWith(searchServer, "searchButton"); // destroys the row the raise was sent for

    QTRY_COMPARE(watch.traces.count("Receive End"), 2);
    QCOMPARE(raiseServer.requests(), (QList<QStringList>{{"QUERY_ESCALATE_USER", "ann", "本科生"}}));
    QVERIFY(watch.boxes.seen().contains("PASS|Escalate the user successfully!"));
    QVERIFY(watch.boxes.seen().contains("Searching completes|Find 2 results"));
    // The fresh rows are shown as the server listed them.
    QCOMPARE(columnTexts(list(), 0), (QStringList{"ann", "ben"}));
    QCOMPARE(columnTexts(list(), 5), (QStringList{"本科生", "VIP"}));
    QVERIFY(dialog->findChild<QPushButton*>("escalateButton")->isEnabled());
}

void TestUserManage::deleteAnsweredAfterListCleared()
{
    ScriptedServer deleteServer;
    ScriptedServer listServer;
    deleteServer.addFrames({{"DELETE_USER_SUCCESSFULLY"}});
    listServer.addFrames({{"ann", "Ann", "1", "1", "a@x", "Guest"}, {"cat", "Cat", "3", "3", "c@x", "Guest"}});
    Recorders watch;

    QTreeWidgetItem* ann = addRow("ann", "Guest");
    addRow("ben", "Guest");
    list()->setCurrentItem(ann);
    pressWith(deleteServer, "deleteButton");
    pressWith(listServer, "unconfirmButton");

    QTRY_COMPARE(watch.traces.count("Receive End"), 2);
    QCOMPARE(deleteServer.requests(), (QList<QStringList>{{"QUERY_DELETE_USER", "ann"}}));
    QVERIFY(watch.boxes.seen().contains("PASS|Delete the user successfully!"));
    // No row of the new list is taken out for the old one.
    QCOMPARE(columnTexts(list(), 0), (QStringList{"ann", "cat"}));
}

QTEST_MAIN(TestUserManage)
#include "tst_usermanage.moc"
