// Which lines of a corpus file are worth a search: the needle a line must
// hold for the corpus scan's search of it to find anything.
//
// The scan searches " " + the trimmed line + " ". The engine knows what
// every match holds (TRegexEngine::RequiredText); LineNeedleFor turns that
// into what the line itself must hold, for ReadTextLines to look for before
// it decodes a line. A part that the padding or the trimmed ends could
// supply is left out, so the needle never rules out a line with a match:
//
//   TRegexEngine engine;
//   engine.SetModifier(1, true);
//   engine.SetExpression(u"\\bthe sea\\b");
//   TLineNeedle needle = LineNeedleFor(engine);  // u"the", either case
//
// An expression that does not compile, or whose search may raise, gives an
// empty needle, which lets every line through. Never raises.
#pragma once

#include "regex/RegexEngine.h"
#include "text/TextLines.h"

namespace tallyfold {

// The needle for `engine`'s expression under its current modifiers.
TLineNeedle LineNeedleFor(TRegexEngine& engine);

}  // namespace tallyfold
