#pragma once

#include <QString>
#include <QTemporaryDir>

// Moves the process into a fresh temporary directory for the lifetime of the object, so files the
// code writes by relative name (hostIP.txt, library.db) land there, and moves back afterwards.
class TempWorkDir
{
public:
    TempWorkDir();
    ~TempWorkDir();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};
