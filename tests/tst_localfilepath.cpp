#include "cLocalFilePath.h"

#include <QtTest>

// The file dialog hands over a URL; the tool and the update log need the file's
// own path, so escapes must be decoded and nothing of the scheme may remain.
class tst_LocalFilePath : public QObject
{
    Q_OBJECT

private slots:
    void fromUrl_data();
    void fromUrl();
};

void tst_LocalFilePath::fromUrl_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("path");

    QTest::newRow("absolute Linux path")
        << QUrl(QStringLiteral("file:///home/ann/app.bin")) << QStringLiteral("/home/ann/app.bin");
    QTest::newRow("hash sign escaped") << QUrl(QStringLiteral("file:///home/ann/fw%231.bin"))
                                       << QStringLiteral("/home/ann/fw#1.bin");
    QTest::newRow("per-cent sign escaped") << QUrl(QStringLiteral("file:///home/ann/100%25.bin"))
                                           << QStringLiteral("/home/ann/100%.bin");
    QTest::newRow("blank and non-ASCII")
        << QUrl(QStringLiteral("file:///home/ann/n%C3%A9w fw %E2%82%AC.bin"))
        << QStringLiteral("/home/ann/n\u00e9w fw \u20ac.bin");
    QTest::newRow("built from a local file")
        << QUrl::fromLocalFile(QStringLiteral("/tmp/a b/#x%y \u00fc.bin"))
        << QStringLiteral("/tmp/a b/#x%y \u00fc.bin");
    QTest::newRow("network share") << QUrl(QStringLiteral("file://server/share/app.bin"))
                                   << QStringLiteral("//server/share/app.bin");
#ifdef Q_OS_WIN
    QTest::newRow("drive path") << QUrl(QStringLiteral("file:///C:/Users/Ann/Documents/app.bin"))
                                << QStringLiteral("C:/Users/Ann/Documents/app.bin");
#endif
    QTest::newRow("not a local file")
        << QUrl(QStringLiteral("http://example.org/app.bin")) << QString();
}

void tst_LocalFilePath::fromUrl()
{
    QFETCH(QUrl, url);
    QFETCH(QString, path);
    cLocalFilePath converter;
    QCOMPARE(converter.fromUrl(url), path);

    // Through the meta-object, as QML calls it.
    QString viaMeta;
    QVERIFY(QMetaObject::invokeMethod(&converter, "fromUrl", Q_RETURN_ARG(QString, viaMeta),
                                      Q_ARG(QUrl, url)));
    QCOMPARE(viaMeta, path);
}

QTEST_APPLESS_MAIN(tst_LocalFilePath)
#include "tst_localfilepath.moc"
