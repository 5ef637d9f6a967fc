// PowerShell (Windows PowerShell 5.1 and PowerShell 7), for qev-scoreboard and qev-scoreboard.exe.
#include <string>

#include "completions.hpp"

namespace qev_completions {

namespace {

// `text` inside PowerShell's single quotes, where a quote is doubled.
std::string ps_quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string ps_options(const Model& model, const Parser& parser) {
    std::string out = "[ordered]@{ ";
    for (const Option& option : parser.options) {
        const char* value = option.value == Value::Directory ? "directory" : option.value == Value::File ? "file" : "";
        out += ps_quoted("--" + option.name) + " = @(" + ps_quoted(option.help) + ", '" + value + "'); ";
    }
    const std::string help = ps_quoted(model.help_help);
    return out + "'--help' = @(" + help + ", ''); '-h' = @(" + help + ", '') }";
}

}  // namespace

std::string powershell_completion(const Model& model) {
    // Windows PowerShell reads a script without a byte-order mark in the system's code page, which would
    // garble the Turkish help texts.
    std::string out = "\xEF\xBB\xBF";
    out += "# PowerShell completion for " + model.program + ". Load it from your profile ($PROFILE):\n";
    out += "#     . <where it lies>\\" + model.program + ".ps1\n";
    out += "# Written from the program's command table when it is built: an option added there is completed here.\n\n";
    out += "Register-ArgumentCompleter -Native -CommandName " + ps_quoted(model.program) + ", " +
           ps_quoted(model.program + ".exe") + " -ScriptBlock {\n";
    out += "    param($wordToComplete, $commandAst, $cursorPosition)\n\n";
    out += "    # Each parser's options, by name: its help, and what its value is ('' for none).\n";
    out += "    $parsers = @{\n";
    out += "        '' = " + ps_options(model, model.main) + "\n";
    for (const Parser& command : model.commands)
        out += "        " + ps_quoted(command.command) + " = " + ps_options(model, command) + "\n";
    out += "    }\n    $commands = [ordered]@{ ";
    for (const Parser& command : model.commands)
        out += ps_quoted(command.command) + " = " + ps_quoted(command.help) + "; ";
    out += "}\n\n";
    out += R"(    # The option `$word` names in `$options`: its whole name or a prefix of no other (as the program
    # takes it); $null for none.
    $resolve = {
        param($options, $word)
        if ($options.Contains($word)) { return $word }
        if (-not $word.StartsWith('--') -or $word.Length -le 2) { return $null }
        $found = @($options.Keys | Where-Object { $_.StartsWith('--') -and $_.StartsWith($word) })
        if ($found.Count -eq 1) { return $found[0] }
        return $null
    }
    # Paths that start with `$word`: directories only, or every entry.
    $paths = {
        param($word, $kind)
        $found = @([System.Management.Automation.CompletionCompleters]::CompleteFilename($word))
        if ($kind -eq 'directory') { $found = @($found | Where-Object { $_.ResultType -eq 'ProviderContainer' }) }
        return $found
    }

    # The words before the one being completed: the sub-command, and whether an option waits for its value.
    $command = ''
    $expects = ''
    $words = @($commandAst.CommandElements | Select-Object -Skip 1 |
        Where-Object { $_.Extent.EndOffset -lt $cursorPosition } | ForEach-Object { $_.ToString() })
    foreach ($word in $words) {
        if ($expects) { $expects = ''; continue }
        if ($word.StartsWith('-')) {
            $option = & $resolve $parsers[$command] $word
            if ($option) { $expects = $parsers[$command][$option][1] }
            continue
        }
        if (-not $command -and $parsers.Contains($word)) { $command = $word }
    }
    $options = $parsers[$command]

    if ($expects) { return & $paths $wordToComplete $expects }
    if ($wordToComplete -match '^(--[^=]+)=(.*)$') {
        $option = & $resolve $options $Matches[1]
        if (-not $option -or -not $options[$option][1]) { return }
        $prefix = $Matches[1] + '='
        foreach ($path in (& $paths $Matches[2] $options[$option][1])) {
            $text = $path.CompletionText
            if ($text -match "^'(.*)'$") { $text = "'" + $prefix + $Matches[1] + "'" } else { $text = $prefix + $text }
            [System.Management.Automation.CompletionResult]::new($text, $path.ListItemText, 'ParameterValue', $path.ToolTip)
        }
        return
    }
    if ($command -or $wordToComplete.StartsWith('-')) {
        foreach ($name in $options.Keys) {
            if ($name.StartsWith($wordToComplete)) {
                [System.Management.Automation.CompletionResult]::new($name, $name, 'ParameterName', $options[$name][0])
            }
        }
        return
    }
    foreach ($name in $commands.Keys) {
        if ($name.StartsWith($wordToComplete)) {
            [System.Management.Automation.CompletionResult]::new($name, $name, 'ParameterValue', $commands[$name])
        }
    }
}
)";
    // Windows' own line ends, for the editors that still want them.
    std::string crlf;
    for (const char c : out) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

}  // namespace qev_completions
