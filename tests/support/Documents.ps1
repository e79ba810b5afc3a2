# The fenced blocks of the project's documents, for the suites that run them, as
# tests/support/documents.py reads them for Python's: Get-DocumentBlock 'the
# document' 'a line of it' gives the text of the one block of the document with
# a line that holds it. The document checker finds these calls in the suites'
# sources: write both as single-quoted strings.

function Get-DocumentBlock {
    param([string] $Document, [string] $Marker)
    $found = @()
    $current = $null
    foreach ($line in [System.IO.File]::ReadAllLines((Join-Path $PSScriptRoot "../../$Document"))) {
        if ($null -eq $current) {
            if ($line.StartsWith('```')) {
                $current = New-Object System.Text.StringBuilder
            }
        } elseif ($line -eq '```') {
            $text = $current.ToString()
            if (@($text -split "`n" | Where-Object { $_.Contains($Marker) }).Count -gt 0) {
                $found += $text
            }
            $current = $null
        } else {
            [void]$current.Append($line).Append("`n")
        }
    }
    if ($found.Count -ne 1) {
        throw "$($Document): $($found.Count) blocks hold '$Marker', not one"
    }
    return $found[0]
}
