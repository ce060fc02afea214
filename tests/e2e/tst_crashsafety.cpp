#include <QtTest>
class TestCrashSafety : public QObject { Q_OBJECT };
QTEST_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
