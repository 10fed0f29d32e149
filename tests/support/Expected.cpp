#include "Expected.h"

#include <cstdio>
#include <cstdlib>
#include <set>

namespace Expected
{
    namespace
    {
        /** Ends the test program: a wrong key is a broken test, whichever test
            meets it first. */
        [[noreturn]] void fail (const juce::String& key, const juce::String& problem)
        {
            std::fprintf (stderr, "%s: \"%s\" %s\n", QUILLET_EXPECTED_JSON, key.toRawUTF8(), problem.toRawUTF8());
            std::fflush (stderr);
            std::abort();
        }

        const juce::var& file()
        {
            static const juce::var parsed = []
            {
                juce::var result;
                const auto parsing = juce::JSON::parse (juce::File (QUILLET_EXPECTED_JSON).loadFileAsString(), result);

                if (parsing.failed() || ! result.isObject())
                {
                    std::fprintf (stderr, "%s: cannot be read: %s\n", QUILLET_EXPECTED_JSON, parsing.getErrorMessage().toRawUTF8());
                    std::abort();
                }

                return result;
            }();

            return parsed;
        }

        juce::var find (const juce::String& key)
        {
            auto entry = file();

            for (const auto& name : juce::StringArray::fromTokens (key, ".", {}))
            {
                if (name.isEmpty() || ! entry.hasProperty (juce::Identifier (name)))
                    fail (key, "is not in the file");

                entry = entry[juce::Identifier (name)];
            }

            return entry;
        }

        juce::Array<int> numbers (const juce::String& key, int count, const char* written)
        {
            const auto entry = find (key);
            const auto* list = entry.getArray();
            juce::Array<int> result;

            if (list == nullptr || list->size() != count)
                fail (key, juce::String ("is not written ") + written);

            for (const auto& item : *list)
            {
                if (! item.isInt())
                    fail (key, juce::String ("is not written ") + written);

                result.add ((int) item);
            }

            return result;
        }
    }

    juce::String text (const juce::String& key, const std::map<juce::String, juce::String>& values)
    {
        const auto entry = find (key);

        if (! entry.isString())
            fail (key, "is not a text");

        const auto written = entry.toString();
        std::set<juce::String> used;
        juce::String result;
        int from = 0;

        for (auto open = written.indexOfChar ('{'); open >= 0; open = written.indexOfChar (from, '{'))
        {
            const auto close = written.indexOfChar (open, '}');

            if (close < 0)
                fail (key, "has a { without its }");

            const auto name = written.substring (open + 1, close);
            result << written.substring (from, open);

            if (const auto value = values.find (name); value != values.end())
            {
                result << value->second;
                used.insert (name);
            }
            else if (name.containsChar ('.'))
            {
                result << text (name);
            }
            else
            {
                fail (key, "leaves {" + name + "} unfilled");
            }

            from = close + 1;
        }

        for (const auto& value : values)
            if (used.count (value.first) == 0)
                fail (key, "has no {" + value.first + "} to fill");

        return result + written.substring (from);
    }

    juce::Colour colour (const juce::String& key)
    {
        const auto written = find (key).toString();

        if (written.length() != 7 || ! written.startsWithChar ('#') || ! written.substring (1).containsOnly ("0123456789abcdefABCDEF"))
            fail (key, "is not a colour written #rrggbb");

        return juce::Colour (0xff000000u | (juce::uint32) written.substring (1).getHexValue32());
    }

    juce::Rectangle<int> area (const juce::String& key)
    {
        const auto n = numbers (key, 4, "[x, y, width, height]");
        return { n[0], n[1], n[2], n[3] };
    }

    juce::Rectangle<int> size (const juce::String& key)
    {
        const auto n = numbers (key, 2, "[width, height]");
        return { n[0], n[1] };
    }

    juce::Point<int> point (const juce::String& key)
    {
        const auto n = numbers (key, 2, "[x, y]");
        return { n[0], n[1] };
    }

    int number (const juce::String& key)
    {
        const auto entry = find (key);

        if (! entry.isInt())
            fail (key, "is not a whole number");

        return (int) entry;
    }
}
