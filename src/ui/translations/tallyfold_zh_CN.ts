<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>tallyfold::FormsModel</name>
    <message>
        <source>Form</source>
        <translation>形式</translation>
    </message>
    <message>
        <source>Matches</source>
        <translation>匹配数</translation>
    </message>
    <message>
        <source>Lines</source>
        <translation>行数</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>文件数</translation>
    </message>
</context>
<context>
    <name>tallyfold::HitsPerFileModel</name>
    <message>
        <source>Total</source>
        <translation>合计</translation>
    </message>
    <message>
        <source>Byte sequences that are not text in %1, each read as �</source>
        <translation>在 %1 中不成文字的字节序列，每处读作 �</translation>
    </message>
    <message>
        <source>%1 (mark)</source>
        <translation>%1（字节序标记）</translation>
    </message>
    <message>
        <source>%1 (locale)</source>
        <translation>%1（系统区域）</translation>
    </message>
    <message>
        <source>%1 (detected)</source>
        <translation>%1（检测所得）</translation>
    </message>
    <message>
        <source>%1 (fallback)</source>
        <translation>%1（后备）</translation>
    </message>
    <message>
        <source>Read as %1, as its byte-order mark says</source>
        <translation>按字节序标记读作 %1</translation>
    </message>
    <message>
        <source>Read as %1, the encoding chosen</source>
        <translation>按所选编码读作 %1</translation>
    </message>
    <message>
        <source>Read as UTF-8: all of it is valid UTF-8</source>
        <translation>读作 UTF-8：全文都是有效的 UTF-8</translation>
    </message>
    <message>
        <source>Read as %1, the locale&apos;s encoding, in which all of it is valid</source>
        <translation>读作系统区域编码 %1，全文在此编码中都有效</translation>
    </message>
    <message>
        <source>Read as %1, the encoding the detector found likeliest</source>
        <translation>读作 %1，即编码检测认为最可能的编码</translation>
    </message>
    <message>
        <source>Read as %1, the fallback: the detector answered %2, which cannot be decoded here</source>
        <translation>读作后备编码 %1：编码检测给出的 %2 在本系统上无法解码</translation>
    </message>
    <message>
        <source>Read as %1, the fallback: the detector had no answer</source>
        <translation>读作后备编码 %1：编码检测没有结果</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Matching lines</source>
        <translation>匹配行数</translation>
    </message>
    <message>
        <source>Matches</source>
        <translation>匹配</translation>
    </message>
    <message>
        <source>Characters</source>
        <translation>字符数</translation>
    </message>
    <message>
        <source>Encoding</source>
        <translation>编码</translation>
    </message>
    <message>
        <source>Replaced</source>
        <translation>替换</translation>
    </message>
    <message>
        <source>NULs</source>
        <translation>NUL 字符</translation>
    </message>
    <message>
        <source>Per 10,000</source>
        <translation>每万字符</translation>
    </message>
    <message>
        <source>%1 (stray bytes)</source>
        <translation>%1（含杂散字节）</translation>
    </message>
    <message>
        <source>%1 (zero bytes)</source>
        <translation>%1（按零字节判定）</translation>
    </message>
    <message>
        <source>%1 (common characters)</source>
        <translation>%1（按常用字判定）</translation>
    </message>
    <message>
        <source>Read as UTF-8: but for %1 stray bytes, read as �, all of it is well-formed UTF-8</source>
        <translation>读作 UTF-8：除 %1 个杂散字节（读作 �）外，全部是格式正确的 UTF-8</translation>
    </message>
    <message>
        <source>Read as %1, which its zero bytes show, though it has no byte-order mark</source>
        <translation>读作 %1：文件虽无字节序标记，其零字节的位置表明了这一编码</translation>
    </message>
    <message>
        <source>Read as %1 rather than %2, which the detector named</source>
        <translation>读作 %1，而非编码检测给出的 %2</translation>
    </message>
    <message>
        <source>(of its characters beyond ASCII, %1% are among the commonest Chinese ones read as %2, %3% read as %4)</source>
        <translation>（其非 ASCII 字符中，读作 %2 时有 %1% 属于最常用汉字，读作 %4 时为 %3%）</translation>
    </message>
</context>
<context>
    <name>tallyfold::ResultTableModel</name>
    <message>
        <source>Left</source>
        <translation>左侧</translation>
    </message>
    <message>
        <source>Match</source>
        <translation>匹配</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>右侧</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Line</source>
        <translation>行号</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>次数</translation>
    </message>
</context>
<context>
    <name>tallyfold::Settings</name>
    <message>
        <source>The locale&apos;s</source>
        <translation>系统区域编码</translation>
    </message>
    <message>
        <source>Open the report</source>
        <translation>打开报告</translation>
    </message>
    <message>
        <source>Show the results window</source>
        <translation>显示结果窗口</translation>
    </message>
    <message>
        <source>Open the report and show the results window</source>
        <translation>打开报告并显示结果窗口</translation>
    </message>
    <message>
        <source>Encoding of files without a mark</source>
        <translation>无字节序标记文件的编码</translation>
    </message>
    <message>
        <source>When not UTF-8, Automatic reads</source>
        <translation>非 UTF-8 时，“自动”读作</translation>
    </message>
    <message>
        <source>Include sub-folders</source>
        <translation>包括子目录</translation>
    </message>
    <message>
        <source>After a search</source>
        <translation>检索之后</translation>
    </message>
    <message>
        <source>Automatic (by each file&apos;s content, else %1)</source>
        <translation>自动（按各文件内容判断，否则 %1）</translation>
    </message>
</context>
<context>
    <name>tallyfold::TForm1</name>
    <message>
        <source>Recent patterns</source>
        <translation>最近的表达式</translation>
    </message>
    <message>
        <source>locale&apos;s encoding</source>
        <translation>系统区域编码</translation>
    </message>
    <message>
        <source>sub-folders</source>
        <translation>含子目录</translation>
    </message>
    <message>
        <source>, </source>
        <translation>、</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>Right-click the window to change them.</source>
        <translation>在窗口上单击右键即可更改。</translation>
    </message>
    <message>
        <source>The search kept no results to show.</source>
        <translation>本次检索没有保留可显示的结果。</translation>
    </message>
    <message>
        <source>The search found %1 matching lines. Show them here, in the results window, instead of opening the report?</source>
        <translation>本次检索找到 %1 个匹配行。是否在结果窗口中显示，而不打开报告？</translation>
    </message>
    <message>
        <source>Results: %1 — %2</source>
        <translation>结果：%1 — %2</translation>
    </message>
    <message>
        <source>automatic, else %1</source>
        <translation>自动，否则 %1</translation>
    </message>
</context>
<context>
    <name>tallyfold::TLineViewer</name>
    <message>
        <source>&quot;%1&quot; has no line %2 any more.</source>
        <translation>“%1”已没有第 %2 行。</translation>
    </message>
    <message>
        <source>Previous hit</source>
        <translation>上一个命中</translation>
    </message>
    <message>
        <source>Next hit</source>
        <translation>下一个命中</translation>
    </message>
</context>
<context>
    <name>tallyfold::TResultsWindow</name>
    <message>
        <source>Results</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Report order</source>
        <translation>报告顺序</translation>
    </message>
    <message>
        <source>File and line</source>
        <translation>文件和行号</translation>
    </message>
    <message>
        <source>Match</source>
        <translation>匹配</translation>
    </message>
    <message>
        <source>Only lines containing…</source>
        <translation>只显示包含以下内容的行…</translation>
    </message>
    <message>
        <source>Export CSV…</source>
        <translation>导出 CSV…</translation>
    </message>
    <message>
        <source>Export TSV…</source>
        <translation>导出 TSV…</translation>
    </message>
    <message>
        <source>Order:</source>
        <translation>排序：</translation>
    </message>
    <message>
        <source>Filter:</source>
        <translation>筛选：</translation>
    </message>
    <message>
        <source>Matches</source>
        <translation>匹配</translation>
    </message>
    <message>
        <source>Hits per file</source>
        <translation>各文件命中数</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Arranging…</source>
        <translation>正在排列…</translation>
    </message>
    <message>
        <source>%1 of %2 matches</source>
        <translation>%1 / %2 个匹配</translation>
    </message>
    <message>
        <source>Export as CSV</source>
        <translation>导出为 CSV</translation>
    </message>
    <message>
        <source>Export as TSV</source>
        <translation>导出为 TSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>TSV files (*.tsv *.txt)</source>
        <translation>TSV 文件 (*.tsv *.txt)</translation>
    </message>
    <message>
        <source>%1 — line %2</source>
        <translation>%1 — 第 %2 行</translation>
    </message>
    <message>
        <source>Left neighbour</source>
        <translation>左邻</translation>
    </message>
    <message>
        <source>Right neighbour</source>
        <translation>右邻</translation>
    </message>
    <message>
        <source>Whole line</source>
        <translation>整行</translation>
    </message>
    <message>
        <source> characters</source>
        <translation> 个字符</translation>
    </message>
    <message>
        <source>Characters shown, copied and exported each side of a match</source>
        <translation>匹配两侧显示、复制和导出的字符数</translation>
    </message>
    <message>
        <source>Context:</source>
        <translation>上下文：</translation>
    </message>
    <message>
        <source>Only forms containing…</source>
        <translation>仅含有此文本的形式…</translation>
    </message>
    <message>
        <source>Fold ASCII case</source>
        <translation>忽略 ASCII 大小写</translation>
    </message>
    <message>
        <source>Export forms…</source>
        <translation>导出形式…</translation>
    </message>
    <message>
        <source>Forms</source>
        <translation>形式</translation>
    </message>
    <message>
        <source>Export forms</source>
        <translation>导出形式</translation>
    </message>
    <message>
        <source>Copying…</source>
        <translation>正在复制…</translation>
    </message>
    <message>
        <source>Export hits per file…</source>
        <translation>导出各文件命中…</translation>
    </message>
    <message>
        <source>Export hits per file</source>
        <translation>导出各文件命中</translation>
    </message>
    <message>
        <source>TSV files (*.tsv *.txt);;CSV files (*.csv)</source>
        <translation>TSV 文件 (*.tsv *.txt);;CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>Show the rows of every form again</source>
        <translation>重新显示所有形式的行</translation>
    </message>
    <message>
        <source>Form: %1  ✕</source>
        <translation>形式：%1  ✕</translation>
    </message>
    <message>
        <source>Writing…</source>
        <translation>正在写入…</translation>
    </message>
    <message>
        <source>Reading…</source>
        <translation>正在读取…</translation>
    </message>
    <message>
        <source>%1 forms</source>
        <translation>%1 种形式</translation>
    </message>
    <message>
        <source>%1 of %2 forms</source>
        <translation>%1 / %2 种形式</translation>
    </message>
</context>
<context>
    <name>tallyfold::TSearchNote</name>
    <message>
        <source>“%1”</source>
        <translation>“%1”</translation>
    </message>
    <message>
        <source>About this search</source>
        <translation>关于本次检索</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>, </source>
        <translation>、</translation>
    </message>
    <message>
        <source>…</source>
        <translation>…</translation>
    </message>
    <message>
        <source>They may read right with the encoding %1 (right-click the window: %2).</source>
        <translation>改用编码%1也许能正确读取（在窗口上单击右键：%2）。</translation>
    </message>
    <message>
        <source>The \b that %1 adds beside %2 matches only where an ASCII letter, digit or _ stands next to it.</source>
        <translation>%1 在 %2 旁加上的 \b 只在紧挨 ASCII 字母、数字或 _ 的位置匹配。</translation>
    </message>
    <message>
        <source>Untick %1 to find it anywhere.</source>
        <translation>取消勾选 %1，即可在任何位置找到它。</translation>
    </message>
    <message>
        <source>Each line is searched with a space added at its start, so %1 followed by other text never matches.</source>
        <translation>检索时每行开头都加了一个空格，因此 %1 后面紧跟其他文字时永远不会匹配。</translation>
    </message>
    <message>
        <source>Each line is searched with a space added at its end, so %1 after other text never matches.</source>
        <translation>检索时每行末尾都加了一个空格，因此 %1 前面紧跟其他文字时永远不会匹配。</translation>
    </message>
    <message>
        <source>Search for %1 with %2 unticked.</source>
        <translation>请取消勾选 %2，并检索 %1。</translation>
    </message>
    <message>
        <source>Search for %1 instead.</source>
        <translation>请改为检索 %1。</translation>
    </message>
    <message>
        <source>The report was written, but no application could open it. Open it in a web browser:
%1</source>
        <translation>报告已写好，但没有应用程序能打开它。请用网页浏览器打开：
%1</translation>
    </message>
    <message>
        <source>Files without a byte-order mark read in an encoding other than UTF-8, by encoding: %1.</source>
        <translation>无字节序标记、按 UTF-8 以外的编码读取的文件，按编码计：%1。</translation>
    </message>
    <message>
        <source>Files with bytes that are not text in the encoding they were read in: %1 (%2 places, each read as �, which matches nothing): %3.</source>
        <translation>含有在所用编码中不成文字的字节的文件：%1 个（共 %2 处，每处读作 �，不会被匹配）：%3。</translation>
    </message>
    <message>
        <source>Files holding NUL characters: %1 (%2 in all); they are searched as ordinary characters.</source>
        <translation>含有 NUL 字符的文件：%1 个（共 %2 个 NUL），检索时按普通字符处理。</translation>
    </message>
    <message>
        <source>%1 has a size of 0 but gave bytes when read, as the system&apos;s own files do; it was searched as empty.</source>
        <translation>%1 的大小为 0，读取时却有内容（系统自身的文件即如此）；已按空文件检索。</translation>
    </message>
    <message>
        <source>%1 changed while it was searched: the counts for it may be incomplete.</source>
        <translation>%1 在检索期间发生了变化：其计数可能不完整。</translation>
    </message>
    <message>
        <source>Files for which the encoding detector answered %2, which this system cannot decode, and which were read as %3 instead: %1.</source>
        <translation>编码检测给出 %2（本系统无法解码）、因而改按 %3 读取的文件：%1 个。</translation>
    </message>
    <message>
        <source>Lines that would match without %1: %2.</source>
        <translation>不勾选 %1 时匹配的行数：%2。</translation>
    </message>
    <message>
        <source>by the mark</source>
        <translation>按字节序标记</translation>
    </message>
    <message>
        <source>as chosen</source>
        <translation>按所选编码</translation>
    </message>
    <message>
        <source>valid UTF-8</source>
        <translation>有效的 UTF-8</translation>
    </message>
    <message>
        <source>UTF-8 with stray bytes</source>
        <translation>含杂散字节的 UTF-8</translation>
    </message>
    <message>
        <source>told by their zero bytes</source>
        <translation>按零字节判定</translation>
    </message>
    <message>
        <source>by their common characters</source>
        <translation>按常用字判定</translation>
    </message>
    <message>
        <source>the locale&apos;s</source>
        <translation>区域设置的编码</translation>
    </message>
    <message>
        <source>detected</source>
        <translation>检测所得</translation>
    </message>
    <message>
        <source>fallback</source>
        <translation>后备编码</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%2 %1 个</translation>
    </message>
    <message>
        <source>%1 (%2: %3)</source>
        <translation>%1（%2：%3）</translation>
    </message>
    <message>
        <source>Files valid in both GB18030 and BIG5, read in the one whose reading holds more of the commonest Chinese characters: %1 (%2 against the detector&apos;s answer). In %3, %4% of the characters beyond ASCII are among them read as %5, %6% read as %7.</source>
        <translation>在 GB18030 和 BIG5 中都有效、按读出最常用汉字较多的一种读取的文件：%1 个（其中 %2 个与编码检测的结果不同）。在 %3 中，读作 %5 时非 ASCII 字符有 %4% 属于最常用汉字，读作 %7 时为 %6%。</translation>
    </message>
</context>
<context>
    <name>tallyfold::TSearchProgressDialog</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>%1 of %2 files</source>
        <translation>%1 / %2 个文件</translation>
    </message>
    <message>
        <source>Writing the report…</source>
        <translation>正在写入报告…</translation>
    </message>
    <message>
        <source>Cancelling…</source>
        <translation>正在取消…</translation>
    </message>
</context>
</TS>
