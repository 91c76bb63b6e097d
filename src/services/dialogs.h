#pragma once

#include <string>

namespace dravion {

enum class BoxKind { Error, Information, Warning };
enum class QuestionKind { Confirmation, Warning, Error };

// Modal boxes shown to the user. Texts arrive exactly as the manager defines them, line breaks
// included ("\n\r" in most messages); an implementation may normalise them for display.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A box with one OK button; returns when the user closed it.
  virtual void ShowMessage(BoxKind kind, const std::string& text) = 0;
  // A Yes/No question; true for Yes. A warning question asks before what cannot be undone, so
  // No is its default answer (Enter does not say Yes); the others default to Yes.
  virtual bool Ask(QuestionKind kind, const std::string& text) = 0;
  // A one-line text prompt pre-filled with `value`; true for OK, with the typed text in `value`.
  virtual bool AskText(const std::string& title, const std::string& prompt, std::string& value) = 0;
};

}  // namespace dravion
