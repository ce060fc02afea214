#pragma once

class QCoreApplication;

// Qt's own texts in Chinese like the rest of the client: the standard buttons of a question (是/否)
// and the file dialogs. Without Qt's translation files installed the English texts stay.
namespace UiTranslations {
// Returns false when Qt's Chinese translation could not be loaded.
bool install(QCoreApplication& app);
} // namespace UiTranslations
