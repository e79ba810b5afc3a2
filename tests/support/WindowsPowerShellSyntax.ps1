# What in a script Windows PowerShell 5.1 could not run: its parse errors, and
# the syntax that PowerShell 7 added (the ternary and null-coalescing operators,
# pipeline chains, null-conditional member access, the clean block), each as
# "file:line: text". Dot-sourced by the suites whose scripts must run in 5.1.
function Get-SyntaxNewerThan51([string] $Path) {
    $tokens = $null
    $errors = $null
    $ast = [System.Management.Automation.Language.Parser]::ParseFile($Path, [ref]$tokens, [ref]$errors)
    $name = Split-Path -Leaf $Path
    $found = @($errors | ForEach-Object { "$($name):$($_.Extent.StartLineNumber): $($_.Message)" })
    $newer = @($ast.FindAll({
        param($node)
        $node -is [System.Management.Automation.Language.TernaryExpressionAst] -or
        $node -is [System.Management.Automation.Language.PipelineChainAst] -or
        ($node -is [System.Management.Automation.Language.MemberExpressionAst] -and $node.NullConditional) -or
        ($node -is [System.Management.Automation.Language.IndexExpressionAst] -and $node.NullConditional) -or
        ($node -is [System.Management.Automation.Language.NamedBlockAst] -and $node.BlockKind -eq 'Clean')
    }, $true))
    $newer += @($tokens | Where-Object { $_.Kind -in 'QuestionQuestion', 'QuestionQuestionEquals', 'Clean' })
    $found + @($newer | ForEach-Object { "$($name):$($_.Extent.StartLineNumber): $($_.Extent.Text)" })
}
